// What the native programs that feed the monitor (quorvel-tap, which owns
// a real serial line, and quorvel-watch, which watches every serial device
// of the machine) and the stand-in's feed line say to each other. FIFOs in
// the program's private folder carry them: the feed, from the program to
// the monitor (everything that passed a line and happened on it, with its
// time), and for a tap the commands, from the monitor to the tap (the
// command terminal's channel and bytes). Each is a stream of records: a
// packed little-endian header, then Length bytes of payload. Both sides are
// little-endian machines (i686, x86_64).
//
// A tap's feed carries one port (number 0), which arrives with the hello; a
// watch's carries many, numbered from 1, each arriving with kPortArrived
// and leaving with kPortLeft (a number may arrive again after it left: a
// new port then). The feed's end makes every port of it leave.
//
// The feed never holds up a line: the program drops whole feed records (and
// says how many in an event) when the monitor does not keep up.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tapfeed {

static_assert(std::endian::native == std::endian::little, "the records are little-endian");

// The file names of the FIFOs inside the program's folder (a watch has no
// commands).
constexpr char kFeedName[] = "feed";
constexpr char kCommandsName[] = "commands";

// The most payload one record carries.
constexpr uint32_t kMostPayload = 65536;

// The feed's records.
enum FeedKind : uint8_t {
    kHello = 1,        // first record, port 0; payload: one byte, the mode below
    kRx = 2,           // bytes from the device (a sniffer's RX line), passed on
    kTx = 3,           // bytes written to the device (a sniffer's TX line)
    kAnswer = 4,       // bytes from the device while the terminal holds the channel
    kEvent = 5,        // a line of text that says what happened on the line
    kPortArrived = 6,  // a watch's port arrives; payload: UTF-8 lines KEY=VALUE (port_arrival.h)
    kPortLeft = 7,     // a watch's port leaves; no payload
};

// Payload of kHello.
constexpr uint8_t kModeTap = 0;
constexpr uint8_t kModeSniff = 1;
constexpr uint8_t kModeWatch = 2;

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
    uint8_t Reserved;       // 0
    uint16_t Port;          // the feed's port it is for: 0 a tap's one port, a watch's from 1
    uint64_t Microseconds;  // when it happened, on the program's clock (CLOCK_MONOTONIC since its start)
};

struct CommandHeader {
    uint32_t Length;      // payload bytes that follow
    uint8_t Kind;         // CommandKind
    uint8_t Reserved[3];  // 0
};

#pragma pack(pop)

static_assert(sizeof(FeedHeader) == 16);
static_assert(offsetof(FeedHeader, Length) == 0);
static_assert(offsetof(FeedHeader, Kind) == 4);
static_assert(offsetof(FeedHeader, Reserved) == 5);
static_assert(offsetof(FeedHeader, Port) == 6);
static_assert(offsetof(FeedHeader, Microseconds) == 8);

static_assert(sizeof(CommandHeader) == 8);
static_assert(offsetof(CommandHeader, Length) == 0);
static_assert(offsetof(CommandHeader, Kind) == 4);
static_assert(offsetof(CommandHeader, Reserved) == 5);

}  // namespace tapfeed
