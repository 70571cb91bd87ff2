// The simulated Hayes modem as the line of an emulated port: what the
// program writes through the command channel goes to the modem, and what the
// modem answers, at once or when its timers run, comes back through the
// channel.
#pragma once

#include "emulator/drivers/emulated_port.h"

namespace emu {

// A new modem, in its factory settings, for one port; the port's Release
// gives it back.
PortLine NewModemLine();

}  // namespace emu
