// The per-port requests with which the user interface steers the filter
// driver: pausing TX and RX capture, and the command channel to the device on
// the port (open, write, read, escape follow-up, close).
//
// Main thread only, one call at a time; each call runs to completion before
// it returns. Every wrapper sends nothing without the port's device handle or
// its attached capture ring, and keeps one completion event created at its
// first use (open and close share one) for the life of the process.
#pragma once

#include <cstdint>

#include "port/port_monitor.h"

namespace quorvel {

// Flips the TX and/or RX pause. The flags change only when the driver took
// the request (completed at once, or pending and then completed without
// error): a rejected toggle leaves them, and all that follows them, as they
// were. True when the flags were flipped.
bool TogglePause(PortMonitor& port, bool tx, bool rx);

// The direction whose pause flag IsPaused reads.
enum class PauseFlag { Tx, Rx };

// The TX or the RX pause flag.
bool IsPaused(const PortMonitor& port, PauseFlag flag);

// Opens the command channel (reads then return at once with what has
// arrived). True when the driver accepted; sets CommandChannelOpen.
bool OpenCommandChannel(PortMonitor& port);

// Closes the channel; sends nothing unless a channel was opened on this port
// at least once. The outcome is not reported.
void CloseCommandChannel(PortMonitor& port);

// Sends exactly length bytes of text. The byte count the driver reports, 0
// when nothing was sent.
uint32_t WriteCommand(PortMonitor& port, const char* text, uint32_t length);

// Offers the driver size bytes of buffer for the device's answer, which is
// neither terminated nor inspected. The byte count the driver reports, 0
// when nothing was sent.
uint32_t ReadResponse(PortMonitor& port, char* buffer, uint32_t size);

// The two flags of the escape follow-up; the terminal sends both set.
struct FollowupFlags {
    bool First = false;
    bool Second = false;
};

// The follow-up request after the escape sequence "+++".
void SendEscapeFollowup(PortMonitor& port, FollowupFlags flags);

}  // namespace quorvel
