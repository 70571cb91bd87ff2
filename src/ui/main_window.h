// The main window: its procedure, and the state that its destruction needs.
#pragma once

#include <windows.h>

namespace quorvel {

// The port watcher's thread handle, null until it is started. Written by the
// start-up on the main thread; the main window's destruction waits for it.
extern HANDLE WatcherThreadHandle;
// Identifier of the main window's 100 ms timer, 0 when none. Main thread only.
extern UINT_PTR RefreshTimerId;

// The window procedure of "QuorvelClass". Clears the thread's last error on
// entry; every message ends in DefWindowProcA, whose result it returns.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quorvel
