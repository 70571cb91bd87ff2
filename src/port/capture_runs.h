// Cutting the pending records of a capture ring into runs of one direction,
// and the text of a run line. Pure functions: no window, no device.
#pragma once

#include <cstddef>
#include <cstdint>

#include "port/capture_ring.h"

namespace quorvel {

// Bytes of a run-line prefix: a marker byte and "TX: " or "RX: ".
constexpr size_t kRunPrefixLength = 5;

// The number of pending records between readIndex (included) and
// writeIndex (excluded). False when the indices cannot belong to a ring of
// that capacity (an index at or beyond capacity, or no capacity): such a ring
// is broken and none of its records may be read.
bool PendingRecordCount(uint32_t writeIndex, uint32_t readIndex, uint32_t capacity,
                        uint32_t* pending);

struct RunCut {
    uint32_t Taken = 0;           // records in the run (at least 1)
    uint8_t Direction = 0;        // direction code of the run
    bool Drained = false;         // the run took every pending record
    uint64_t LatestTimestamp = 0; // the latest timestamp after the run
    uint32_t NextReadIndex = 0;   // the slot after the run's last record
    size_t LineLength = 0;        // bytes of the line, prefix included, terminator excluded
};

// Builds one run from the pending records: starts at readIndex, takes at most
// pending records, and stops before the first record whose direction differs
// from the first one's. Writes the line into line (room for pending + 6
// bytes): the prefix (0xB6 "TX: " for direction 3, 0xB7 "RX: " for 2, none
// for any other code), the data bytes unchanged, and a terminating zero.
// Timestamps above latestBefore raise the latest timestamp. pending must be
// at least 1 and readIndex below capacity.
RunCut CutRun(const CaptureRecord* records, uint32_t capacity, uint32_t readIndex,
              uint32_t pending, uint64_t latestBefore, char* line);

}  // namespace quorvel
