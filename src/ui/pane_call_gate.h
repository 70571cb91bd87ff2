// The gate of the capture threads' calls into their panes.
//
// Showing or hiding a pane is a synchronous call that the main thread serves
// before it looks at any posted message. Several capture threads that call
// back to back would keep the main thread from its posted messages (input,
// the timer, the window's close) for as long as they go on. The gate lets one
// call through at a time and, after kPaneCallBusyMs of calls in a row, holds
// all of them back for kPaneCallQuietMs, so that the main thread's posted
// messages are always handled within a fraction of a second.
#pragma once

#include <windows.h>

#include "system/scoped_handles.h"

namespace quorvel {

constexpr DWORD kPaneCallBusyMs = 50;
constexpr DWORD kPaneCallQuietMs = 10;

// Taken around one or a few calls of a capture thread into its pane, with
// ScopedLock.
class PaneCallGate {
public:
    void Enter();
    void Leave();

private:
    ProcessLock lock_;
    // Guarded by lock_; written and read by capture threads only.
    DWORD busySince_ = 0;  // tick of the first call of the current streak
    DWORD lastLeave_ = 0;  // tick of the end of the last call
};

// The one gate of all capture threads.
extern PaneCallGate CaptureThreadsPaneCalls;

}  // namespace quorvel
