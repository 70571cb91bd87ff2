// EXPERIMENT, not the program: a copy of the capture thread whose data step
// suspends the pane's redraw while it drains a burst of runs. It exists only
// to measure what that change would gain; the program's capture thread is
// src/port/capture_thread.cpp and is not touched by it.
#pragma once

#include <windows.h>

#include "port/port_monitor.h"

namespace bench {

enum class RedrawPolicy {
    // WM_SETREDRAW FALSE before the lines of a run that leaves records
    // pending; TRUE and an invalidation of the pane after the lines of the
    // run that drains the ring.
    WholeBurst,
    // The same, but a burst that lasts longer than RepaintMs is also
    // redrawn every RepaintMs, so the pane keeps showing what arrives.
    Paced,
};

// The pace of the Paced policy (100 ms unless the benchmark is told otherwise).
extern DWORD RepaintMs;

struct ExperimentStartBlock {
    HWND ListBox;
    quorvel::PortMonitor* Port;
    HANDLE Started;  // semaphore, count 0, maximum 1
    RedrawPolicy Policy;
};

// Thread entry like CaptureThread's, with an ExperimentStartBlock.
unsigned __stdcall SuspendedRedrawCaptureThread(void* startBlock);

}  // namespace bench
