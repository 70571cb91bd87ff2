// The two terminal edits: the main window's first child window (the command
// edit) and the one after it (the response edit).
#pragma once

#include <windows.h>

namespace quorvel {

inline HWND CommandEdit(HWND mainWindow) { return GetWindow(mainWindow, GW_CHILD); }

inline HWND ResponseEdit(HWND mainWindow) {
    HWND command = CommandEdit(mainWindow);
    return command ? GetWindow(command, GW_HWNDNEXT) : nullptr;
}

}  // namespace quorvel
