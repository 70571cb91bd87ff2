#include "windows.h"

namespace {

// Code page 1252 from 0x80 to 0x9F; 0 where the code page has no character.
const wchar_t kHighControls[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

bool ToByte(wchar_t c, char* byte) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        *byte = static_cast<char>(c);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] && kHighControls[i] == c) {
            *byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    *byte = '?';
    return false;
}

}  // namespace

int WideCharToMultiByte(UINT, DWORD, const wchar_t* wide, int, char* text, int textSize, const char*,
                        BOOL* usedDefault) {
    int count = 0;
    for (const wchar_t* c = wide;; ++c) {
        char byte = 0;
        if (!ToByte(*c, &byte) && usedDefault) *usedDefault = TRUE;
        if (textSize > 0) {
            if (count >= textSize) return 0;
            text[count] = byte;
        }
        ++count;
        if (*c == 0) return count;
    }
}
