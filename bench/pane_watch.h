// What a benchmark pane sees, from inside its window procedure on the main
// thread: the lines added to it, how long after its first byte entered the
// ring each numbered run's line arrived, and how long new lines waited for
// the pane's repaint.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "bench/machine_stalls.h"

namespace bench {

// When the first byte of each run entered the ring. Sized before the feed
// starts; an entry is written by the feeder before it pushes the run and read
// by the main thread once the run's line has arrived.
struct RunClock {
    std::vector<double> EnteredAt;
};

struct PaneWatch {
    WNDPROC Original = nullptr;
    const RunClock* Clock = nullptr;  // null: no delays are taken
    uint32_t Lines = 0;
    uint64_t TextBytes = 0;           // of the lines, each with its terminator
    std::vector<double> Delays;       // seconds, one per numbered run line
    bool Dirty = false;               // lines added since the last repaint
    bool RedrawOff = false;           // the pane's redraw is off: its paints show nothing
    double DirtySince = 0;
    double DirtySinceWall = 0;        // the same on the system clock
    std::vector<WallSpan> RepaintWaits;  // each wait for a repaint
};

// Subclasses the pane; the watch is freed with the pane.
void WatchPane(HWND pane, const RunClock* clock);
// The pane's watch, or null once the pane is gone.
PaneWatch* WatchOf(HWND pane);

}  // namespace bench
