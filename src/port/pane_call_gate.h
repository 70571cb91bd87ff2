// The gate of the capture threads' calls into their panes.
//
// Adding a line or showing a pane is a synchronous call that the main thread
// serves before it looks at any posted message. Several capture threads that
// call back to back would keep the main thread from its posted messages
// (input, the timer, the window's close) for as long as their traffic lasts.
// The gate lets one call through at a time and, after kPaneCallBusyMs of calls
// in a row, holds all of them back for kPaneCallQuietMs, so that the main
// thread's posted messages are always handled within a fraction of a second.
#pragma once

#include <windows.h>

namespace quorvel {

constexpr DWORD kPaneCallBusyMs = 50;
constexpr DWORD kPaneCallQuietMs = 10;

// Brackets one or a few calls of a capture thread into its pane.
void EnterPaneCalls();
void LeavePaneCalls();

class PaneCalls {
public:
    PaneCalls() { EnterPaneCalls(); }
    ~PaneCalls() { LeavePaneCalls(); }
    PaneCalls(const PaneCalls&) = delete;
    PaneCalls& operator=(const PaneCalls&) = delete;
};

}  // namespace quorvel
