// Wire layouts of the per-port control requests: pause, the command channel's
// mode and the command write. Shared with the filter driver; little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

#pragma pack(push, 1)

// Input of IOCTL_LINE_TOGGLE_PAUSE (flags: flip TX, flip RX) and of
// IOCTL_LINE_ESCAPE_FOLLOWUP (both flags 1).
struct PortFlagsRecord {
    uint32_t PortKey;
    uint8_t First;
    uint8_t Second;
    uint8_t Reserved[2];  // zero
};

// Input of IOCTL_LINE_SET_COMMAND_MODE. Bytes 8 to 27 are laid out like the
// serial time-outs record COMMTIMEOUTS.
struct CommandModeRecord {
    uint32_t PortKey;
    uint8_t Enable;       // 1 opens the channel, 0 closes it
    uint8_t Reserved[3];  // zero
    uint32_t ReadIntervalTimeout;
    uint32_t ReadTotalTimeoutMultiplier;
    uint32_t ReadTotalTimeoutConstant;
    uint32_t WriteTotalTimeoutMultiplier;
    uint32_t WriteTotalTimeoutConstant;
};

// Input of IOCTL_LINE_WRITE_COMMAND: the key, then exactly the command bytes,
// with no terminating zero.
struct CommandWriteRecord {
    uint32_t PortKey;
    // the command bytes follow
};

#pragma pack(pop)

static_assert(sizeof(PortFlagsRecord) == 8);
static_assert(offsetof(PortFlagsRecord, First) == 4);
static_assert(offsetof(PortFlagsRecord, Second) == 5);
static_assert(offsetof(PortFlagsRecord, Reserved) == 6);

static_assert(sizeof(CommandModeRecord) == 28);
static_assert(offsetof(CommandModeRecord, Enable) == 4);
static_assert(offsetof(CommandModeRecord, ReadIntervalTimeout) == 8);
static_assert(offsetof(CommandModeRecord, ReadTotalTimeoutMultiplier) == 12);
static_assert(offsetof(CommandModeRecord, ReadTotalTimeoutConstant) == 16);
static_assert(offsetof(CommandModeRecord, WriteTotalTimeoutMultiplier) == 20);
static_assert(offsetof(CommandModeRecord, WriteTotalTimeoutConstant) == 24);

static_assert(sizeof(CommandWriteRecord) == 4);

// The read interval time-out that makes a read return at once with whatever
// has arrived (with the four other time-outs 0).
constexpr uint32_t kReadReturnsAtOnce = 0xFFFFFFFF;

}  // namespace quorvel
