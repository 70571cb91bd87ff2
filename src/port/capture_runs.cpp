#include "port/capture_runs.h"

#include <cstring>

namespace quorvel {

bool PendingRecordCount(uint32_t writeIndex, uint32_t readIndex, uint32_t capacity,
                        uint32_t* pending) {
    if (capacity == 0 || writeIndex >= capacity || readIndex >= capacity) return false;
    *pending = writeIndex >= readIndex ? writeIndex - readIndex : capacity - readIndex + writeIndex;
    return true;
}

RunCut CutRun(const CaptureRecord* records, uint32_t capacity, uint32_t readIndex,
              uint32_t pending, uint64_t latestBefore, char* line) {
    RunCut cut;
    cut.Direction = records[readIndex].Direction;
    cut.LatestTimestamp = latestBefore;
    size_t length = 0;
    if (cut.Direction == kDirectionTx) {
        std::memcpy(line, "\xB6TX: ", kRunPrefixLength);
        length = kRunPrefixLength;
    } else if (cut.Direction == kDirectionRx) {
        std::memcpy(line, "\xB7RX: ", kRunPrefixLength);
        length = kRunPrefixLength;
    }
    uint32_t slot = readIndex;
    while (cut.Taken < pending) {
        const CaptureRecord& record = records[slot];
        if (record.Direction != cut.Direction) break;
        line[length++] = static_cast<char>(record.Data);
        uint64_t timestamp = RecordTimestamp(record);
        if (timestamp > cut.LatestTimestamp) cut.LatestTimestamp = timestamp;
        ++cut.Taken;
        slot = slot + 1 == capacity ? 0 : slot + 1;
    }
    line[length] = 0;
    cut.LineLength = length;
    cut.Drained = cut.Taken == pending;
    cut.NextReadIndex = slot;
    return cut;
}

}  // namespace quorvel
