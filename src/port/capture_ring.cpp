#include "port/capture_ring.h"

#include <cstring>

#include "port/ring_memory.h"

namespace quorvel {

CaptureRing* AllocateCaptureRing(uint32_t capacity, uint32_t portKey) {
    size_t bytes = CaptureRingBytes(capacity);
    // Placed where the attach record's 32-bit address reaches it.
    auto* memory = static_cast<uint8_t*>(AllocateRingMemory(bytes));
    if (!memory) return nullptr;
    std::memset(memory, 0, bytes);
    auto* ring = reinterpret_cast<CaptureRing*>(memory);
    ring->WriteIndex = 0;
    ring->ReadIndex = 0;
    ring->Capacity = capacity;
    ring->PortKey = portKey;
    return ring;
}

void FreeCaptureRing(CaptureRing* ring) { FreeRingMemory(ring); }

}  // namespace quorvel
