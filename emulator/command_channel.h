// The stand-in's command channel: per port, the simulated modem that the
// program talks to while it has the channel open, and the four requests that
// open and close it, write commands, read the modem's answer and follow up
// the "+++" escape.
//
// While the channel is open, what is written (TX) and what the modem answers
// (RX) also passes the filter: it is recorded in the port's ring unless that
// direction is paused. What the modem says while the channel is closed is
// lost, as it would be on a closed serial port.
#pragma once

#include <cstdint>

namespace emu {

// Registers the four requests' handlers.
void InstallCommandChannel();

// The port has gone: its modem and channel go with it. Driver lock held.
void ForgetCommandChannel(uint32_t portKey);

// Forgets every port's channel (for a fresh driver).
void ResetCommandChannels();

}  // namespace emu
