// What quorvel-tap (the native program that owns a real serial line) and
// the stand-in's tap line say to each other. Two FIFOs in the tap's private
// folder carry them: the feed, from the tap to the monitor (everything that
// passed the line and happened on it, with its time), and the commands,
// from the monitor to the tap (the command terminal's channel and bytes).
// Each is a stream of records: a packed little-endian header, then Length
// bytes of payload. Both sides are little-endian machines (i686, x86_64).
//
// The feed never holds up the line: the tap drops whole feed records (and
// says how many in an event) when the monitor does not keep up.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tapfeed {

static_assert(std::endian::native == std::endian::little, "the records are little-endian");

// The file names of the two FIFOs inside the tap's folder.
constexpr char kFeedName[] = "feed";
constexpr char kCommandsName[] = "commands";

// The most payload one record carries.
constexpr uint32_t kMostPayload = 65536;

// The feed's records.
enum FeedKind : uint8_t {
    kHello = 1,   // first record; payload: one byte, kModeTap or kModeSniff
    kRx = 2,      // bytes from the device (a sniffer's RX line), passed on
    kTx = 3,      // bytes written to the device (a sniffer's TX line)
    kAnswer = 4,  // bytes from the device while the terminal holds the channel
    kEvent = 5,   // a line of text that says what happened on the line
};

// Payload of kHello.
constexpr uint8_t kModeTap = 0;
constexpr uint8_t kModeSniff = 1;

// The command channel's records.
enum CommandKind : uint8_t {
    kOpen = 1,   // the terminal takes the line: the application's bytes wait
    kClose = 2,  // the terminal lets go: they pass again, after its own
    kWrite = 3,  // payload: bytes for the device
};

#pragma pack(push, 1)

struct FeedHeader {
    uint32_t Length;        // payload bytes that follow
    uint8_t Kind;           // FeedKind
    uint8_t Reserved[3];    // 0
    uint64_t Microseconds;  // when it happened, on the tap's clock (CLOCK_MONOTONIC since its start)
};

struct CommandHeader {
    uint32_t Length;      // payload bytes that follow
    uint8_t Kind;         // CommandKind
    uint8_t Reserved[3];  // 0
};

#pragma pack(pop)

static_assert(sizeof(FeedHeader) == 16);
static_assert(offsetof(FeedHeader, Kind) == 4);
static_assert(offsetof(FeedHeader, Reserved) == 5);
static_assert(offsetof(FeedHeader, Microseconds) == 8);

static_assert(sizeof(CommandHeader) == 8);
static_assert(offsetof(CommandHeader, Kind) == 4);
static_assert(offsetof(CommandHeader, Reserved) == 5);

}  // namespace tapfeed
