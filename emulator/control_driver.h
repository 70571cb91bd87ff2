// The emulated control driver: its device-wide requests, its ports and their
// arrival, and the port property reply.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/emulated_port.h"
#include "emulator/test_control.h"

namespace emu {

// Registers the driver's request handlers once per process.
void EnsureControlDriver();

// What a port brings when it arrives.
struct ArrivingPort {
    control::PortBlobs Blobs;
    PortLine Line;                   // what is at its far end; the port owns it from now on
    uint64_t TickFrequency = 0;      // of its timestamps; 0: the driver's setting
    bool RefusesProperties = false;  // every property request for it fails
};

// A port arrives: it is reported to the next arrival wait (one port per
// wait, in arrival order). Returns its PortKey.
uint32_t ArrivePort(const ArrivingPort& arriving);
// The port goes away: its waits end cancelled, its line is released and
// its record is gone. Nothing happens for a port that has gone already.
void LeavePort(uint32_t portKey);

// True while the port is present (added and not removed). Call with the
// driver lock held.
bool PortExists(uint32_t portKey);

// The 80-byte header and the property reply of a port, built from its blobs.
std::vector<uint8_t> BuildPropertyHeader(uint32_t portKey, const control::PortBlobs& port);
std::vector<uint8_t> BuildPropertyReply(uint32_t portKey, const control::PortBlobs& port);

}  // namespace emu
