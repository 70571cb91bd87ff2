// What a long run costs: the program grows with the lines its panes hold and
// with nothing else (the stand-in's request log, the line hand-over and the
// capture buffers stay bounded).
#include <windows.h>
#include <psapi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "emulator/test_control.h"
#include "port/capture_ring.h"
#include "port/port_list.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"

namespace {

using namespace quorvel;
namespace control = emu::control;

uint64_t CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

class MemoryTest : public testsupport::MonitorTest {
protected:
    // Feeds the port 64-byte runs, alternating, in pushes of eight runs,
    // while the window is served; returns the lines its pane then holds.
    LRESULT Feed(uint32_t key, HWND pane, int runs) {
        LRESULT before = SendMessageA(pane, LB_GETCOUNT, 0, 0);
        std::vector<control::CapturedByte> push;
        for (int run = 0; run < runs; ++run) {
            for (int i = 0; i < 64; ++i) {
                push.push_back({static_cast<uint8_t>('a' + i % 26), uint8_t(2 + run % 2), ++clock_});
            }
            if (push.size() >= 8 * 64) {
                control::PushRecords(key, push);
                push.clear();
                // The ring never fills: what is measured is the lines, not drops.
                CaptureRing* ring = PortList->CaptureRing;
                testsupport::PumpUntil([&] { return (ring->WriteIndex - ring->ReadIndex + kCaptureCapacity) % kCaptureCapacity < 20000; });
            }
        }
        control::PushRecords(key, push);
        testsupport::PumpUntil([&] { return SendMessageA(pane, LB_GETCOUNT, 0, 0) >= before + 2 * runs; }, 30000);
        testsupport::PumpFor(300);
        return SendMessageA(pane, LB_GETCOUNT, 0, 0) - before;
    }
    uint64_t clock_ = 0;  // rising timestamps: every run has its timing line
};

TEST_F(MemoryTest, TheProgramGrowsWithItsLinesAndWithNothingElse) {
    uint32_t key = Arrive(L"COM1");
    HWND pane = PaneOf(PortList);
    Feed(key, pane, 2000);  // the first lines bring the lasting buffers
    uint64_t before = CommittedBytes();
    LRESULT lines = Feed(key, pane, 15000);
    uint64_t after = CommittedBytes();
    double perLine = static_cast<double>(after - before) / static_cast<double>(lines);
    std::printf("memory: %ld lines held for %.1f bytes each (a 64-byte run line is 70 bytes of text)\n",
                static_cast<long>(lines), perLine);
    RecordProperty("BytesPerLine", static_cast<int>(perLine));
    EXPECT_EQ(lines, 30000);
    EXPECT_EQ(control::DroppedRecords(key), 0u);
    EXPECT_LE(perLine, 300.0);
    EXPECT_LE(control::RequestLog().size(), 65536u) << "the stand-in's log keeps its latest requests only";
}

}  // namespace
