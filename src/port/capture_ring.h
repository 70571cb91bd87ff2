// The program's capture ring: its capacity, and where it is placed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "wire/capture_records.h"

namespace quorvel {

constexpr uint32_t kCaptureCapacity = 100000;
static_assert(CaptureRingBytes(kCaptureCapacity) == 800024);

// A zero-filled ring with the given capacity and key, placed below 4 GiB so
// that the attach record's 32-bit address reaches it; null when it cannot be
// had.
CaptureRing* AllocateCaptureRing(uint32_t capacity, uint32_t portKey);
void FreeCaptureRing(CaptureRing* ring);

// A ring not yet lent to the driver: freed unless released to its port.
struct CaptureRingFree {
    void operator()(CaptureRing* ring) const { FreeCaptureRing(ring); }
};
using OwnedCaptureRing = std::unique_ptr<CaptureRing, CaptureRingFree>;

}  // namespace quorvel
