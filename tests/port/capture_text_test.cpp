// The pure parts of the capture: pending counts, cutting runs, timing lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port/capture_runs.h"
#include "port/timing_line.h"

namespace {

using namespace quorvel;

CaptureRecord Record(char data, uint8_t direction, uint64_t timestamp) {
    return CaptureRecord{static_cast<uint8_t>(data), direction, static_cast<uint16_t>(timestamp),
                         static_cast<uint32_t>(timestamp >> 16)};
}

// A cut run told whole: its line, the records taken, the next read index,
// the latest timestamp, and whether the run drained what was pending.
std::string Told(const char* line, const RunCut& cut) {
    return std::string(line, cut.LineLength) + " | taken " + std::to_string(cut.Taken) + ", next " +
           std::to_string(cut.NextReadIndex) + ", latest " + std::to_string(cut.LatestTimestamp) +
           (cut.Drained ? ", drained" : "");
}

TEST(PendingRecordCount, PlainWrappedEmptyAndBroken) {
    uint32_t pending = 99;
    ASSERT_TRUE(PendingRecordCount(7, 3, 10, &pending));
    EXPECT_EQ(pending, 4u);
    ASSERT_TRUE(PendingRecordCount(2, 8, 10, &pending));
    EXPECT_EQ(pending, 4u) << "slots 8, 9, 0, 1";
    ASSERT_TRUE(PendingRecordCount(5, 5, 10, &pending));
    EXPECT_EQ(pending, 0u);
    EXPECT_FALSE(PendingRecordCount(10, 0, 10, &pending)) << "write index at capacity";
    EXPECT_FALSE(PendingRecordCount(0, 4000000000u, 10, &pending)) << "read index beyond it";
    EXPECT_FALSE(PendingRecordCount(0, 0, 0, &pending)) << "no capacity";
}

TEST(CutRun, ReceivedThenTransmittedGiveTwoRuns) {
    std::vector<CaptureRecord> ring = {Record('A', 2, 10), Record('T', 2, 20), Record('O', 3, 30),
                                       Record('K', 3, 25)};
    char line[16];
    RunCut first = CutRun(ring.data(), 4, 0, 4, 0, line);
    EXPECT_EQ(Told(line, first), "\xB7RX: AT | taken 2, next 2, latest 20");
    EXPECT_EQ(line[first.LineLength], 0);

    // After the last slot comes slot 0; the latest timestamp, not the last.
    RunCut second = CutRun(ring.data(), 4, first.NextReadIndex, 2, first.LatestTimestamp, line);
    EXPECT_EQ(Told(line, second), "\xB6TX: OK | taken 2, next 0, latest 30, drained");
}

TEST(CutRun, AWrappedRunContinuesAtSlotZero) {
    std::vector<CaptureRecord> ring = {Record('c', 2, 3), Record('?', 9, 0), Record('?', 9, 0), Record('?', 9, 0),
                                       Record('a', 2, 1), Record('b', 2, 2)};
    char line[16];
    EXPECT_EQ(Told(line, CutRun(ring.data(), 6, 4, 3, 0, line)), "\xB7RX: abc | taken 3, next 1, latest 3, drained");
}

TEST(CutRun, BytesAreCopiedUnchangedAndOtherCodesHaveNoPrefix) {
    std::vector<CaptureRecord> ring = {Record('x', 7, 5), Record('\0', 7, 5), Record('\r', 7, 5),
                                       Record('\xFF', 7, 4)};
    char line[16];
    // No timestamp is above the latest before the run.
    EXPECT_EQ(Told(line, CutRun(ring.data(), 4, 0, 4, 5, line)),
              std::string("x\0\r\xFF", 4) + " | taken 4, next 0, latest 5, drained");
}

TEST(CutRun, TimestampsUseAll48Bits) {
    uint64_t big = (uint64_t{0xABCD1234} << 16) | 0x5678;
    std::vector<CaptureRecord> ring = {Record('z', 3, big)};
    EXPECT_EQ(RecordTimestamp(ring[0]), big);
    char line[8];
    EXPECT_EQ(CutRun(ring.data(), 1, 0, 1, 0, line).LatestTimestamp, big);
}

std::string Timing(uint64_t elapsed, uint64_t frequency) {
    char text[kTimingLineCapacity];
    FormatTimingLine(elapsed, frequency, text, sizeof text);
    return text;
}

TEST(TimingLine, MillisecondsBelowASecondThenSecondsWithThreeDigits) {
    EXPECT_EQ(Timing(250, 1000), "{250ms}");
    EXPECT_EQ(Timing(2500000, 10000000), "{250ms}");
    EXPECT_EQ(Timing(0, 1000), "{0ms}");
    EXPECT_EQ(Timing(999, 1000), "{999ms}");
    EXPECT_EQ(Timing(2007, 1000), "{2.007s}");
    EXPECT_EQ(Timing(2070, 1000), "{2.070s}");
    EXPECT_EQ(Timing(3500, 1000), "{3.500s}");
    EXPECT_EQ(Timing(1000, 1000), "{1.000s}");
    // The longest elapsed time 48 bits allow, at a slow clock.
    EXPECT_EQ(Timing((uint64_t{1} << 48) - 1, 1000000000), "{281474.976s}");
    // Each number goes to the line as a signed 32-bit value, as it always has.
    EXPECT_EQ(Timing(uint64_t{3000000000}, 1), "{-1294967296.000s}");
    char shortRoom[5];
    FormatTimingLine(250, 1000, shortRoom, sizeof shortRoom);
    EXPECT_STREQ(shortRoom, "{250") << "cut to the room given";
}

}  // namespace
