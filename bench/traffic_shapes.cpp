#include "bench/traffic_shapes.h"

#include "port/capture_ring.h"

namespace bench {

const TrafficShape kShapes[3] = {
    {"4096-byte runs", 4096},
    {"64-byte runs", 64},
    {"1-byte runs", 1},
};

namespace {

uint8_t RunByte(const TrafficShape& shape, uint64_t position) {
    uint64_t run = position / shape.RunLength;
    uint32_t offset = static_cast<uint32_t>(position % shape.RunLength);
    if (shape.RunLength >= kNumberedRunLength && offset < kRunNumberLength) {
        uint32_t shift = 4 * (kRunNumberLength - 1 - offset);
        return static_cast<uint8_t>('A' + ((run >> shift) & 0xF));
    }
    return static_cast<uint8_t>('a' + position % 26);
}

}  // namespace

std::vector<emu::control::CapturedByte> ShapeBytes(const TrafficShape& shape, const LineRate& rate,
                                                    uint64_t first, uint32_t count) {
    std::vector<emu::control::CapturedByte> bytes(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t position = first + i;
        bool transmitted = (position / shape.RunLength) % 2 == 1;
        bytes[i].Data = RunByte(shape, position);
        bytes[i].Direction = transmitted ? quorvel::kDirectionTx : quorvel::kDirectionRx;
        // Starts after tick 0, so that the first run has a timing line too.
        bytes[i].Timestamp = 1000 + position * kTicksPerSecond / rate.BytesPerSecond;
    }
    return bytes;
}

bool ReadRunNumber(const char* data, uint32_t* run) {
    uint32_t number = 0;
    for (uint32_t i = 0; i < kRunNumberLength; ++i) {
        char c = data[i];
        if (c < 'A' || c > 'P') return false;
        number = number << 4 | static_cast<uint32_t>(c - 'A');
    }
    char next = data[kRunNumberLength];
    if (next != 0 && (next < 'a' || next > 'z')) return false;
    *run = number;
    return true;
}

uint32_t LinesForBytes(const TrafficShape& shape, uint32_t count) {
    uint32_t runs = (count + shape.RunLength - 1) / shape.RunLength;
    return 2 * runs;
}

}  // namespace bench
