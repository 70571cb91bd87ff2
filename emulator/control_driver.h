// The emulated control driver: its device-wide requests, its ports and their
// arrival, and the port property reply.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/test_control.h"

namespace emu {

// Registers the driver's request handlers once per process.
void EnsureControlDriver();

// True while the port is present (added and not removed). Call with the
// driver lock held.
bool PortExists(uint32_t portKey);

// The 80-byte header and the property reply of a port, built from its blobs.
std::vector<uint8_t> BuildPropertyHeader(uint32_t portKey, const control::PortBlobs& port);
std::vector<uint8_t> BuildPropertyReply(uint32_t portKey, const control::PortBlobs& port);

}  // namespace emu
