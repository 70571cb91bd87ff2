#include "port/capture_ring.h"

#include <cstring>
#include <new>

namespace quorvel {

CaptureRing* AllocateCaptureRing(uint32_t capacity, uint32_t portKey) {
    size_t bytes = CaptureRingBytes(capacity);
    auto* memory = new (std::nothrow) uint8_t[bytes];
    if (!memory) return nullptr;
    std::memset(memory, 0, bytes);
    auto* ring = reinterpret_cast<CaptureRing*>(memory);
    ring->WriteIndex = 0;
    ring->ReadIndex = 0;
    ring->Capacity = capacity;
    ring->PortKey = portKey;
    return ring;
}

void FreeCaptureRing(CaptureRing* ring) { delete[] reinterpret_cast<uint8_t*>(ring); }

}  // namespace quorvel
