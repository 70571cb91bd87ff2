// Wire layouts of the device-wide requests to the control driver.
// All integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

#pragma pack(push, 1)

// Output of IOCTL_LINE_GET_DRIVER_INFO.
struct DriverInfoReply {
    uint32_t Length;       // the program writes 20 before sending; the reply overwrites it
    uint32_t DriverData4;  // not read; the configuration overwrites it
    uint32_t DriverData8;  // goes out again in the configuration, except byte 10
    uint32_t Options;      // kept as the capture options
    uint32_t DriverData16; // goes out again where the settings text does not reach
};

// Input of IOCTL_LINE_SET_CONFIG, built in the very buffer of the info reply.
struct DriverConfigRecord {
    uint32_t Length;           // 520
    uint32_t SettingsPresent;  // 20 with a settings text, 4 without
    uint8_t Reply8[2];         // reply bytes 8 and 9
    uint8_t ConfigFlag;        // 1
    uint8_t Reply11[5];        // reply bytes 11 to 15 (options at 12)
    char SettingsText[504];    // zero-terminated, at most 503 characters
};

#pragma pack(pop)

static_assert(sizeof(DriverInfoReply) == 20);
static_assert(offsetof(DriverInfoReply, Options) == 12);
static_assert(offsetof(DriverInfoReply, DriverData16) == 16);

static_assert(sizeof(DriverConfigRecord) == 520);
static_assert(offsetof(DriverConfigRecord, SettingsPresent) == 4);
static_assert(offsetof(DriverConfigRecord, ConfigFlag) == 10);
static_assert(offsetof(DriverConfigRecord, SettingsText) == 16);

constexpr uint32_t kDriverConfigLength = 520;
constexpr uint32_t kSettingsTextCapacity = 504;  // 503 characters and the terminator

}  // namespace quorvel
