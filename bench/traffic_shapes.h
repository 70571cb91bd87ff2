// The traffic the benchmark feeds to a port: runs of a fixed length that
// alternate between received and transmitted, at the byte rate of a
// 921600-baud port in full duplex, with driver timestamps that rise by one
// byte time per byte.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/test_control.h"

namespace bench {

// 921600 baud, 10 bits a byte: 92160 bytes a second each way.
constexpr uint64_t kBytesPerSecondEachWay = 92160;
constexpr uint64_t kLineBytesPerSecond = 2 * kBytesPerSecondEachWay;  // 184320
// The stand-in's default tick frequency (100 ns ticks).
constexpr uint64_t kTicksPerSecond = 10000000;

struct TrafficShape {
    const char* Name;
    uint32_t RunLength;  // bytes of one direction before the other's turn
};

// The three shapes measured: long runs, short lines, single bytes.
extern const TrafficShape kShapes[3];

// The bytes at stream positions [first, first + count): position p is in
// run p / RunLength, received for even runs and transmitted for odd ones.
std::vector<emu::control::CapturedByte> ShapeBytes(const TrafficShape& shape, uint64_t first,
                                                    uint32_t count);

// Lines that `count` bytes from position 0 make when cut at every change of
// direction: a timing line and a run line per run.
uint32_t LinesForBytes(const TrafficShape& shape, uint32_t count);

}  // namespace bench
