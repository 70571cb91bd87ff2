// Waiting on the main thread without starving the threads that call into
// its windows.
//
// Capture threads queue their lines for the main thread (pane_line_queue.h),
// but they show and hide their panes with ShowWindow, a synchronous call that
// completes only while the main thread serves messages sent to its windows.
// When the main thread waits for such a thread to end, it must keep serving
// those calls, or both would wait for ever.
#pragma once

#include <windows.h>

namespace quorvel {

// Waits without time limit until handle is signalled, meanwhile serving the
// messages that other threads send to this thread's windows (posted messages
// stay queued). Returns WAIT_OBJECT_0, or WAIT_FAILED when the wait fails.
DWORD WaitServingSentMessages(HANDLE handle);

// Sleeps for milliseconds, meanwhile serving the messages that other threads
// send to this thread's windows (posted messages stay queued: no repaint, no
// timer tick, no input is handled).
void SleepServingSentMessages(DWORD milliseconds);

}  // namespace quorvel
