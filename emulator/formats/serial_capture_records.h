// A serial session in a pcap file as Wireshark reads it: link type 250
// (RTAC serial). quorvel-tap writes such files (with libpcap) and the
// stand-in replays them. Each packet is a 12-byte big-endian header, then
// the bytes of the line (for data) or, for an event whose text cannot be
// told from its code and control lines, that text.
//
// The pcap file's own headers are little- or big-endian as their magic
// says (and in microseconds or nanoseconds); the reader takes all four.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serialcapture {

constexpr uint32_t kLinkType = 250;         // LINKTYPE_RTAC_SERIAL
constexpr uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr uint32_t kMagicNano = 0xA1B23C4D;

// The event byte.
enum EventCode : uint8_t {
    kStatusChange = 0,
    kTxData = 1,
    kRxData = 2,
    kDataLost = 5,
    kFramingError = 7,
    kParityError = 8,
    kBreak = 9,
    kOverflow = 10,
};

// The control-lines byte.
enum ControlLine : uint8_t {
    kCts = 0x01,
    kDcd = 0x02,
    kDsr = 0x04,
    kRts = 0x08,
    kDtr = 0x10,
    kRing = 0x20,
};

#pragma pack(push, 1)

// The file's header, in the byte order that its magic shows.
struct FileHeader {
    uint32_t Magic;
    uint16_t VersionMajor;  // 2
    uint16_t VersionMinor;  // 4
    int32_t ThisZone;
    uint32_t SigFigs;
    uint32_t SnapLength;
    uint32_t LinkType;
};

// Each packet's header, in the file's byte order.
struct PacketHeader {
    uint32_t Seconds;
    uint32_t Fraction;        // microseconds, or nanoseconds as the magic says
    uint32_t CapturedLength;  // bytes that follow
    uint32_t OriginalLength;
};

// The RTAC serial header at the start of each packet: big-endian.
struct SerialHeader {
    uint8_t Seconds[4];
    uint8_t Microseconds[4];
    uint8_t Event;
    uint8_t Lines;
    uint8_t Footer[2];
};

#pragma pack(pop)

static_assert(sizeof(FileHeader) == 24);
static_assert(offsetof(FileHeader, VersionMajor) == 4);
static_assert(offsetof(FileHeader, ThisZone) == 8);
static_assert(offsetof(FileHeader, SnapLength) == 16);
static_assert(offsetof(FileHeader, LinkType) == 20);

static_assert(sizeof(PacketHeader) == 16);
static_assert(offsetof(PacketHeader, Fraction) == 4);
static_assert(offsetof(PacketHeader, CapturedLength) == 8);
static_assert(offsetof(PacketHeader, OriginalLength) == 12);

static_assert(sizeof(SerialHeader) == 12);
static_assert(offsetof(SerialHeader, Microseconds) == 4);
static_assert(offsetof(SerialHeader, Event) == 8);
static_assert(offsetof(SerialHeader, Lines) == 9);
static_assert(offsetof(SerialHeader, Footer) == 10);

}  // namespace serialcapture
