// Reference limits of the list box and of cross-thread calls under the
// system the benchmark runs on, measured with small probes (not the
// program's code), so that the capture figures can be read against them.
#pragma once

#include <windows.h>

#include <cstdint>

namespace bench {

struct ProbeResult {
    uint32_t Count = 0;   // calls made
    double Seconds = 0;   // time they took
    double PerSecond() const { return Seconds > 0 ? Count / Seconds : 0; }
};

// LB_ADDSTRING of 64-byte lines to a hidden pane, from the thread that owns it.
ProbeResult HiddenOwnThreadAdds(HWND main, uint32_t count);
// The same to a visible pane, from the owning thread.
ProbeResult VisibleOwnThreadAdds(HWND main, double seconds);
// To a visible pane from another thread: each add is a cross-thread call
// served by this thread's message pump.
ProbeResult VisibleCrossThreadAdds(HWND main, double seconds);
// A bare cross-thread SendMessage (WM_NULL to the main window).
ProbeResult CrossThreadNullSends(HWND main, double seconds);
// Cross-thread adds to a visible pane in bursts of `burst` lines, with the
// pane's redraw suspended around each burst (WM_SETREDRAW FALSE, the adds,
// WM_SETREDRAW TRUE and an invalidation of the pane).
ProbeResult VisibleCrossThreadSuspendedAdds(HWND main, double seconds, uint32_t burst);
// Repaints of a visible pane with its view full of lines, one of `count`
// stacked panes, from its own thread (invalidate and paint at once).
ProbeResult PaneRepaints(HWND main, int count, double seconds);

// Cycles of redraw off, two added lines, redraw on, as the intake does, on a
// visible pane, one of `count` stacked panes.
ProbeResult RedrawCycles(HWND main, int count, double seconds);

// The period that a timer of periodMs on this thread actually has, in
// seconds, while the thread has nothing else to do.
double TimerPeriod(HWND main, UINT periodMs, double seconds);

}  // namespace bench
