// The port watcher: a thread that waits on the control device for the
// driver to report serial ports and hands each report to the main thread,
// one at a time.
#pragma once

#include <windows.h>

#include "wire/port_property_records.h"

namespace quorvel {

// What the start-up hands the watcher: where each arrival goes. It lives in
// the starter's storage: the watcher copies the values and then releases
// StartSemaphore, after which the starter may drop the block.
struct WatcherStartBlock {
    HWND Target;            // the window that takes the arrivals
    UINT Message;           // posted to it with Parameter and the ArrivalMessage
    WPARAM Parameter;
    DWORD TargetThreadId;   // its thread, which takes them when the window is gone
    HANDLE StartSemaphore;  // unnamed, initial count 0, maximum 1
};

// One arrival in the main thread's hands, passed by address as the lParam of
// WM_COMMAND ID_PORT_ARRIVED. The same record and buffer serve every arrival.
struct ArrivalMessage {
    // The driver's port record just received. Written by the watcher before
    // it posts the arrival; read by the main thread until it releases
    // TakenSemaphore, and not touched by the watcher again before that.
    const PortPropertyHeader* Header;
    // Released by 1 by the main thread once it is done with Header (whether
    // or not it could set the port up). Written by the watcher at its start
    // and cleared when it ends; read by the main thread with each arrival.
    HANDLE TakenSemaphore;
};

// Waits for the driver to report one port into buffer, until stopEvent is
// signalled. True when a port record arrived (whatever byte count came
// back). On every other way out the request is no longer outstanding.
bool WaitPortArrival(HANDLE device, PortPropertyHeader& buffer, HANDLE stopEvent);

// The watcher thread. parameter: the address of a WatcherStartBlock. Waits
// with ControlDevice and StopEvent; ends (with exit code 0) when there is no
// device, when an arrival wait fails or is cancelled, and once StopEvent is
// signalled, also while an arrival is in the main thread's hands.
DWORD WINAPI PortWatcherThread(LPVOID parameter);

// The main thread's side of a hand-over: the watcher's ArrivalMessage when
// lParam is its address and the arrival in hand has not been taken yet;
// null for anything else (a post that did not come from the watcher, or one
// taken already), which names no port. After a message, the caller releases
// TakenSemaphore once it is done with Header.
ArrivalMessage* TakeWatcherArrival(LPARAM lParam);

}  // namespace quorvel
