// Tells which of the system's standard icons a message box shows.
#pragma once

#include <windows.h>

#include <ostream>

namespace testsupport {

enum class MessageBoxIcon { None, Information, Warning, Error, Question, Unknown };

std::ostream& operator<<(std::ostream& out, MessageBoxIcon icon);

// The icon of a message box dialog (a #32770 window), in this process or in
// another one. None: the box has no icon. Unknown: an icon that is none of
// the four standard ones, or one that could not be recognised within
// timeoutMs.
MessageBoxIcon ReadMessageBoxIcon(HWND dialog, DWORD timeoutMs);

}  // namespace testsupport
