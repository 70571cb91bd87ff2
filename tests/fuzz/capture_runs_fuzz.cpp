// A capture ring as a driver could leave it: any indices, any capacity, any
// records; the pending count, the run cut from it, and its timing line.
// Input: capacity, write and read index (a byte each), latest timestamp and
// tick frequency (8 bytes each), then the records.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "port/capture_runs.h"
#include "port/timing_line.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 19) return 0;
    uint32_t capacity = data[0], writeIndex = data[1], readIndex = data[2];
    uint64_t latest = 0, frequency = 0;
    std::memcpy(&latest, data + 3, 8);
    std::memcpy(&frequency, data + 11, 8);
    data += 19;
    size -= 19;
    std::vector<CaptureRecord> records(capacity ? capacity : 1);
    std::memcpy(records.data(), data, std::min(size, records.size() * sizeof(CaptureRecord)));
    uint32_t pending = 0;
    if (!PendingRecordCount(writeIndex, readIndex, capacity, &pending)) return 0;
    FUZZ_CHECK(pending < capacity);
    if (pending == 0) return 0;
    std::vector<char> line(pending + kRunPrefixLength + 1);
    RunCut cut = CutRun(records.data(), capacity, readIndex, pending, latest, line.data());
    FUZZ_CHECK(cut.Taken >= 1 && cut.Taken <= pending);
    FUZZ_CHECK(cut.NextReadIndex < capacity);
    FUZZ_CHECK(cut.LineLength <= cut.Taken + kRunPrefixLength && line[cut.LineLength] == 0);
    FUZZ_CHECK(cut.LatestTimestamp >= latest);
    FUZZ_CHECK(cut.Drained == (cut.Taken == pending));
    if (frequency != 0 && frequency < (uint64_t{1} << 62) && cut.LatestTimestamp - latest < (uint64_t{1} << 48)) {
        char timing[kTimingLineCapacity];
        FormatTimingLine(cut.LatestTimestamp - latest, frequency, timing, sizeof(timing));
        FUZZ_CHECK(std::strlen(timing) <= 26);
    }
    return 0;
}
