// The traffic the benchmark feeds to a port: runs of a fixed length that
// alternate between received and transmitted, at the byte rate of a serial
// line in full duplex, with driver timestamps that rise by one byte time per
// byte. Runs long enough carry their number, so that the benchmark can tell
// when the line of each run reached its pane.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/control/test_control.h"

namespace bench {

// A serial line in full duplex at 10 bits a byte: its bytes a second, both
// directions together.
struct LineRate {
    const char* Name;
    uint64_t BytesPerSecond;
};

constexpr LineRate kRate115200{"115200 baud", 2 * 11520};
constexpr LineRate kRate921600{"921600 baud", 2 * 92160};

// The stand-in's default tick frequency (100 ns ticks).
constexpr uint64_t kTicksPerSecond = 10000000;

struct TrafficShape {
    const char* Name;
    uint32_t RunLength;  // bytes of one direction before the other's turn
};

// The three shapes measured: long runs, short lines, single bytes.
extern const TrafficShape kShapes[3];
inline const TrafficShape& kShortRuns = kShapes[1];

// A run of at least this many bytes begins with its number: six capital
// letters 'A' to 'P', four bits each, most significant first; the rest of
// the run is small letters.
constexpr uint32_t kNumberedRunLength = 8;
constexpr uint32_t kRunNumberLength = 6;

// The bytes at stream positions [first, first + count): position p is in
// run p / RunLength, received for even runs and transmitted for odd ones.
std::vector<emu::control::CapturedByte> ShapeBytes(const TrafficShape& shape, const LineRate& rate,
                                                    uint64_t first, uint32_t count);

// The run number at the start of a run line's data (the text behind its
// prefix): exactly six capitals, then a small letter or the end. False for a
// line that does not begin a numbered run (a run's later part, a timing line).
bool ReadRunNumber(const char* data, uint32_t* run);

// Lines that `count` bytes from position 0 make when cut at every change of
// direction: a timing line and a run line per run.
uint32_t LinesForBytes(const TrafficShape& shape, uint32_t count);

}  // namespace bench
