// The emulated filter driver: the capture rings lent by the program, the
// records it writes into them, and the data, signal and notice waits.
#pragma once

#include <cstdint>

namespace emu {

// Registers the capture requests' handlers.
void InstallFilterDriver();

// The port has gone: every wait of the port ends cancelled and its ring is
// given up. Call with the driver lock held.
void ForgetPortCapture(uint32_t portKey);

// Forgets every port's capture state (for a fresh driver).
void ResetFilterDriver();

}  // namespace emu
