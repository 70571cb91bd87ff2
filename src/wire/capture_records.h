// The capture ring, its records and its attach request: memory of the
// program lent to the filter driver, which writes one record per byte that
// passes the port. Little-endian layout.
//
// The driver writes WriteIndex, the records and TickFrequency; the port's
// capture thread alone writes ReadIndex. The records between ReadIndex
// (included) and WriteIndex (excluded) are pending.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

// Direction codes of a record.
constexpr uint8_t kDirectionRx = 2;
constexpr uint8_t kDirectionTx = 3;

#pragma pack(push, 1)

// Timed form of a capture record (record form 1): the byte, its direction
// and a 48-bit timestamp in driver ticks.
struct CaptureRecord {
    uint8_t Data;
    uint8_t Direction;
    uint16_t TimeLow;   // bits 0 to 15 of the timestamp
    uint32_t TimeHigh;  // bits 16 to 47
};

// The ring's header; Capacity records follow it directly.
struct CaptureRing {
    volatile uint32_t WriteIndex;  // written by the driver
    volatile uint32_t ReadIndex;   // written by the capture thread
    uint32_t Capacity;             // set at allocation
    uint32_t PortKey;              // set at allocation; input of the wait and detach requests
    volatile uint64_t TickFrequency;  // ticks per second, set by the driver; 0 = no timing
};

// Input of IOCTL_LINE_ATTACH_CAPTURE.
struct AttachRequest {
    uint32_t RingAddress;  // the ring's 32-bit address in the program's address space
    uint32_t RecordForm;   // 1: timed 8-byte records
    uint32_t Options;      // the capture options AND 7
};

#pragma pack(pop)

static_assert(sizeof(AttachRequest) == 12);
static_assert(offsetof(AttachRequest, RecordForm) == 4);
static_assert(offsetof(AttachRequest, Options) == 8);

static_assert(sizeof(CaptureRecord) == 8);
static_assert(offsetof(CaptureRecord, Direction) == 1);
static_assert(offsetof(CaptureRecord, TimeLow) == 2);
static_assert(offsetof(CaptureRecord, TimeHigh) == 4);

static_assert(sizeof(CaptureRing) == 24);
static_assert(offsetof(CaptureRing, ReadIndex) == 4);
static_assert(offsetof(CaptureRing, Capacity) == 8);
static_assert(offsetof(CaptureRing, PortKey) == 12);
static_assert(offsetof(CaptureRing, TickFrequency) == 16);

constexpr size_t CaptureRingBytes(uint32_t capacity) {
    return sizeof(CaptureRing) + static_cast<size_t>(capacity) * sizeof(CaptureRecord);
}

inline CaptureRecord* RingRecords(CaptureRing* ring) {
    return reinterpret_cast<CaptureRecord*>(reinterpret_cast<uint8_t*>(ring) + sizeof(CaptureRing));
}

inline uint64_t RecordTimestamp(const CaptureRecord& record) {
    return static_cast<uint64_t>(record.TimeHigh) * 65536u + record.TimeLow;
}

}  // namespace quorvel
