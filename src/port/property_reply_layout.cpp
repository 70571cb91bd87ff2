#include "port/property_reply_layout.h"

namespace quorvel {

bool ComputePropertyReplySize(const PortPropertyHeader& header, uint32_t* size) {
    uint64_t total = kPropertyBlobsOffset;
    for (uint32_t length : header.Lengths) total += static_cast<uint64_t>(length) + 1;
    if (total > kMaxPropertyReplySize) return false;
    *size = static_cast<uint32_t>(total);
    return true;
}

void LocatePropertyBlobs(const PortPropertyHeader& header, uint32_t offsets[kPropertyCount]) {
    uint32_t position = kPropertyBlobsOffset;
    for (uint32_t i = 0; i < kPropertyCount; ++i) {
        uint32_t length = header.Lengths[i];
        offsets[i] = length ? position : 0;
        position += length + 1;
    }
}

uint32_t ReadUnalignedU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace quorvel
