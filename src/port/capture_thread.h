// The capture thread of a port: it lends the driver the port's capture ring,
// waits for the driver's data, signal and notice events, and turns the
// records into lines of the port's list-box pane, each run of one direction
// preceded by its timing line.
#pragma once

#include <windows.h>

#include <cstdint>

#include "port/port_monitor.h"

namespace quorvel {

// Handed to CaptureThread by its starter, who waits on Started until the
// thread has copied the values; the block may go away after that.
struct CaptureStartBlock {
    HWND ListBox;
    PortMonitor* Port;
    HANDLE Started;  // semaphore, count 0, maximum 1
};

// Thread entry (for _beginthreadex); argument: a CaptureStartBlock. It shows
// the pane; when the capture ends for any reason but StopEvent, it reports
// the port lost (capture_pane.h).
unsigned __stdcall CaptureThread(void* startBlock);

}  // namespace quorvel
