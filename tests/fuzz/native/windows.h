// The little of the Windows API that the program's pure code needs, for its
// native build on the build machine (sanitizers and fuzzing): a few types,
// two error codes, and WideCharToMultiByte for code page 1252, which is the
// code page the program runs with in its tests.
#pragma once

#include <cstdint>

typedef int BOOL;
typedef unsigned long DWORD;
typedef unsigned int UINT;

#define FALSE 0
#define TRUE 1
#define CP_ACP 0

#define ERROR_GEN_FAILURE 31L
#define ERROR_MEDIA_CHANGED 1110L

// As the system does it for code page 1252 and wideLength -1 (a terminated
// text): the bytes written with the terminator, or the bytes needed when
// textSize is 0; *usedDefault set when a character has no byte.
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wide, int wideLength, char* text, int textSize,
                        const char* defaultChar, BOOL* usedDefault);
