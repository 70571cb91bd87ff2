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

// Thread entry (for _beginthreadex); argument: a CaptureStartBlock. When the
// capture ends for any reason but StopEvent, it posts ID_PORT_REMOVED with
// the PortMonitor to the list box's parent, then WM_CLOSE to the list box.
unsigned __stdcall CaptureThread(void* startBlock);

// The capture loop of one port; returns when its capture has ended. *done is
// set only when StopEvent ended it.
void RunCapture(PortMonitor& port, HWND listBox, bool* done, volatile LONG* noticeBlink,
                uint32_t noticeSize, char* noticeText);

}  // namespace quorvel
