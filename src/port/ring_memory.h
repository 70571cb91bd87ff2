// Memory for the capture ring where a 32-bit address reaches it.
//
// The attach record hands the driver the ring's address in 32 bits. In a
// 32-bit process every address fits; in a 64-bit build of the same program
// the ring must be placed below 4 GiB, and where no such room can be had the
// ring is not allocated at all: an address is never cut to 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

// The first address that a 32-bit field cannot carry.
constexpr uint64_t kRingAddressLimit = uint64_t{1} << 32;

// Committed, zero-filled memory of bytes whose every byte lies below limit,
// or null when there is none. Freed with FreeRingMemory.
void* AllocateRingMemory(size_t bytes, uint64_t limit = kRingAddressLimit);
void FreeRingMemory(void* memory);

// The address of memory as a 32-bit field carries it; false when it does not
// fit (then address is left as it was).
bool RingAddressField(const void* memory, uint32_t* address);

}  // namespace quorvel
