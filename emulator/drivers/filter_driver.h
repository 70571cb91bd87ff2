// The emulated filter driver: the capture rings lent by the program, the
// records it writes into them, and the data, signal and notice waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/drivers/emulated_port.h"

namespace emu {

// Registers the capture requests' handlers.
void InstallFilterDriver();

// These bytes passed the port in one direction (2 received, 3 transmitted),
// all at one timestamp in the port's ticks: each becomes one record in the
// attached ring, unless its direction is paused or the ring is full (then
// it is dropped and counted), and the port's data wait completes. Without
// a ring nothing is recorded. Driver lock held.
void BytesPassed(EmulatedPort& port, uint8_t direction, std::string_view bytes, uint64_t timestamp);
// The same for records that each carry their own direction and timestamp.
void RecordsPassed(EmulatedPort& port, const std::vector<CapturedByte>& records);
// How many records of that direction (2 or 3, or an event's code) the
// port's ring takes now without dropping one, for a line that passes its
// bytes as room comes: the ring's free slots; any number for a paused
// direction, which takes no room; none without a ring. Driver lock held.
size_t RecordsThatFit(const EmulatedPort& port, uint8_t direction);
// Now on the driver's clock, in the port's ticks.
uint64_t TicksNow(const EmulatedPort& port);
// The port flashes a colour / sends a notice. Driver lock held.
void FlashColour(EmulatedPort& port, uint32_t colourIndex);
void PostNotice(EmulatedPort& port, const std::string& text);

// The port is going: every wait of the port ends cancelled and its ring is
// given up. Driver lock held.
void ForgetPortCapture(EmulatedPort& port);

// Completes the port's data wait without a record. Driver lock held.
void WakeDataWait(EmulatedPort& port);
// Whether the filter leaves bytes of that direction (2 or 3) unrecorded.
// Driver lock held.
bool IsDirectionPaused(const EmulatedPort& port, uint8_t direction);

// From now on every port keeps the records written into its ring, in order
// (PortCapture::Written), or stops keeping them.
void KeepWrittenRecords(bool keep);
// Ticks per second that the next attach puts into the ring (default 10 MHz).
void SetDefaultTickFrequency(uint64_t ticksPerSecond);
// Back to the filter's defaults (for a fresh driver).
void ResetFilterDriver();

}  // namespace emu
