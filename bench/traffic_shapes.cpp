#include "bench/traffic_shapes.h"

#include "port/capture_ring.h"

namespace bench {

const TrafficShape kShapes[3] = {
    {"4096-byte runs", 4096},
    {"64-byte runs", 64},
    {"1-byte runs", 1},
};

std::vector<emu::control::CapturedByte> ShapeBytes(const TrafficShape& shape, uint64_t first,
                                                    uint32_t count) {
    std::vector<emu::control::CapturedByte> bytes(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t position = first + i;
        bool transmitted = (position / shape.RunLength) % 2 == 1;
        bytes[i].Data = static_cast<uint8_t>('a' + position % 26);
        bytes[i].Direction = transmitted ? quorvel::kDirectionTx : quorvel::kDirectionRx;
        // Starts after tick 0, so that the first run has a timing line too.
        bytes[i].Timestamp = 1000 + position * kTicksPerSecond / kLineBytesPerSecond;
    }
    return bytes;
}

uint32_t LinesForBytes(const TrafficShape& shape, uint32_t count) {
    uint32_t runs = (count + shape.RunLength - 1) / shape.RunLength;
    return 2 * runs;
}

}  // namespace bench
