// The stand-in's command channel: the four requests with which the program
// opens and closes a port's channel to what is at the far end of the port,
// writes commands, reads the answer and follows up the "+++" escape. What
// the commands reach is the port's line (emulated_port.h): the simulated
// modem, or a real device through a relay.
//
// While the channel is open, what is written (TX) and what the far end
// answers (RX) also passes the filter: it is recorded in the port's ring
// unless that direction is paused.
#pragma once

#include <string_view>

#include "emulator/drivers/emulated_port.h"

namespace emu {

// Registers the four requests' handlers.
void InstallCommandChannel();

// What the far end answers: kept for the program's next read and recorded
// as received bytes, while the channel is open; lost otherwise, as on a
// closed serial port. Driver lock held.
void ChannelReceives(EmulatedPort& port, std::string_view bytes, uint64_t timestamp);

}  // namespace emu
