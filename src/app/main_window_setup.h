// The main window as the start-up builds it: its class, the window, the two
// terminal edits (created first, hidden and disabled, so that they are its
// first two children), the line intake, and the port watcher that hands the
// window its arrivals.
#pragma once

#include <windows.h>

namespace quorvel {

// What was built, so that a start that fails can take it down again.
struct MainWindowParts {
    bool ClassRegistered = false;
    HWND Window = nullptr;
    HWND Command = nullptr;
    HWND Response = nullptr;
    bool IntakeStarted = false;
};

// Registers the class and creates the window and its edits (hidden), and
// starts the line intake. False at the first step that fails.
bool CreateMainWindowParts(HINSTANCE instance, MainWindowParts* parts);

// Shows the window and starts the port watcher on it (WatcherThreadHandle);
// returns once the watcher has taken its start block.
bool ShowAndWatch(const MainWindowParts& parts, int showCommand);

// Takes down what CreateMainWindowParts built, newest first.
void DestroyMainWindowParts(HINSTANCE instance, MainWindowParts& parts);

}  // namespace quorvel
