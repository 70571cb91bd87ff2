// Arithmetic of the property reply: its size and where each blob starts.
// Pure functions of the header; no window, no device.
#pragma once

#include <cstdint>

#include "wire/port_property_records.h"

namespace quorvel {

// The largest reply the program accepts; the driver sends a few hundred bytes.
constexpr uint32_t kMaxPropertyReplySize = 1024 * 1024;

// The reply size that the header asks for: 80 plus, per property, its length
// plus the spare byte. False when the sum does not fit 32 bits or exceeds
// kMaxPropertyReplySize: the lengths come from the driver and must not make
// the program allocate a wrapped, too-small buffer.
bool ComputePropertyReplySize(const PortPropertyHeader& header, uint32_t* size);

// Offsets of the blobs in a reply of that header: offsets[i] is where
// property i starts, or 0 when it is absent. The header must have passed
// ComputePropertyReplySize.
void LocatePropertyBlobs(const PortPropertyHeader& header, uint32_t offsets[kPropertyCount]);

// Little-endian reads at any byte offset.
uint32_t ReadUnalignedU32(const uint8_t* bytes);

}  // namespace quorvel
