// Finding the top-level windows of another process, as end-to-end tests
// read the program's windows from outside.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// Waits up to timeoutMs for a visible top-level window of class className
// that belongs to the process; null when none came.
HWND WaitForProcessWindow(DWORD processId, const char* className, DWORD timeoutMs = 20000);

// The child windows of window in sibling order (the first child first).
std::vector<HWND> ChildWindows(HWND window);

// The lines of a list box of another process (asked in the wide form, which
// answers across processes, and converted to the ANSI code page).
std::vector<std::string> ListBoxLines(HWND listBox);

// The lines of a list box of this process, byte for byte as added (the ANSI
// form, without conversion), each of whatever length.
std::vector<std::string> OwnListBoxLines(HWND listBox);

}  // namespace testsupport
