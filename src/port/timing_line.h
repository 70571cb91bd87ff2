// The timing line shown before a run: the time from the latest timestamp
// before the run to the latest within it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

constexpr size_t kTimingLineCapacity = 32;

// Formats elapsed driver ticks at frequency ticks per second (not 0): below
// one second "{%dms}", otherwise "{%d.%03ds}" with the milliseconds as three
// digits, so that 2.007 s reads "{2.007s}", never "{2.7s}".
void FormatTimingLine(uint64_t elapsedTicks, uint64_t frequency, char* text, size_t capacity);

}  // namespace quorvel
