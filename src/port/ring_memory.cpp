#include "port/ring_memory.h"

#include <windows.h>

namespace quorvel {
namespace {

uint64_t AddressOf(const void* memory) { return reinterpret_cast<uintptr_t>(memory); }

uint64_t RoundUp(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }

// Walks the address space below limit for a free region that holds bytes
// from a start on the allocation granularity, and takes it.
void* AllocateInFreeRegionBelow(size_t bytes, uint64_t limit) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    uint64_t granularity = system.dwAllocationGranularity;
    uint64_t address = RoundUp(AddressOf(system.lpMinimumApplicationAddress), granularity);
    while (address + bytes <= limit) {
        MEMORY_BASIC_INFORMATION region;
        if (!VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &region,
                          sizeof(region))) {
            return nullptr;  // beyond the application's address space
        }
        uint64_t regionEnd = AddressOf(region.BaseAddress) + region.RegionSize;
        if (region.State == MEM_FREE && address + bytes <= regionEnd) {
            void* memory = VirtualAlloc(reinterpret_cast<void*>(static_cast<uintptr_t>(address)),
                                        bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
            if (memory) return memory;
            // Taken by another thread meanwhile, or refused: try further on.
            regionEnd = address + granularity;
        }
        address = RoundUp(regionEnd, granularity);
    }
    return nullptr;
}

}  // namespace

void* AllocateRingMemory(size_t bytes, uint64_t limit) {
    if (bytes == 0) return nullptr;
    // The same walk in both builds: in a 32-bit process its first free
    // region that is large enough always lies below the limit.
    return AllocateInFreeRegionBelow(bytes, limit);
}

void FreeRingMemory(void* memory) {
    if (memory) VirtualFree(memory, 0, MEM_RELEASE);
}

bool RingAddressField(const void* memory, uint32_t* address) {
    uint64_t value = AddressOf(memory);
    if (value >= kRingAddressLimit) return false;
    *address = static_cast<uint32_t>(value);
    return true;
}

}  // namespace quorvel
