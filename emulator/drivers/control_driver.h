// The emulated control driver: its device-wide requests, its ports and their
// arrival, and the port property reply.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/drivers/emulated_port.h"

namespace emu {

// What the program has told the driver so far.
struct DriverSnapshot {
    bool Configured = false;
    std::vector<uint8_t> ConfigRecord;    // the 520-byte record as received
    std::string SettingsText;             // its text, up to the first zero
    int PersistentFlag = -1;              // -1 until the persistent request arrives
    std::vector<uint8_t> ShutdownValues;  // one byte per shutdown request
};

// Registers the driver's request handlers once per process.
void EnsureControlDriver();

// Who hears of each configuration request, with its record (the scenario
// runner, which sits above the drivers); none at first.
using ConfigurationListener = void (*)(const std::vector<uint8_t>& configRecord);
void SetConfigurationListener(ConfigurationListener listener);

// What a port brings when it arrives.
struct ArrivingPort {
    PortBlobs Blobs;
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

// The 80-byte header and the property reply of a port, built from its blobs.
std::vector<uint8_t> BuildPropertyHeader(uint32_t portKey, const PortBlobs& port);
std::vector<uint8_t> BuildPropertyReply(uint32_t portKey, const PortBlobs& port);

// What the program has told the driver so far.
DriverSnapshot ConfiguredState();
// The reply of the driver information request from now on (20 bytes).
void SetDriverInfo(const std::vector<uint8_t>& reply);
// Back to a fresh control driver: every port gone, no arrival kept or
// awaited, nothing configured, the default information reply.
void ResetControlDriver();

}  // namespace emu
