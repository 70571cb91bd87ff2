// The operating-system check: Windows 2000 Professional (class 1), Windows
// XP Professional (class 2), or a version greater than 5.1 (class 3); any
// other system is refused with a message showing its version data.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace quorvel {

// 0 until the check has run; then 1, 2 or 3. Main thread only.
extern uint32_t OsClass;

// True when the program may run (OsClass set); false after the refusal box.
bool CheckOperatingSystem();

// The refusal text for a system's version record, cut to capacity bytes.
void FormatRefusalText(const OSVERSIONINFOEXA& version, char* text, size_t capacity);

}  // namespace quorvel
