// What a long run costs: the program grows with the lines its panes hold and
// with nothing else (the stand-in's request log, the line hand-over and the
// capture buffers stay bounded), also while several busy panes take their
// lines in turn, as a user's modems give them.
#include <windows.h>
#include <psapi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "emulator/control/test_control.h"
#include "port/capture_ring.h"
#include "port/port_list.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"
#include "support/process_windows.h"

namespace {

using namespace quorvel;
namespace control = emu::control;

constexpr int kPorts = 4;
constexpr double kMostBytesPerLine = 300;

uint64_t ResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters = {.cb = sizeof(PROCESS_MEMORY_COUNTERS)};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.WorkingSetSize;
}

class MemoryTest : public testsupport::MonitorTest {
protected:
    struct Port {
        uint32_t Key;
        CaptureRing* Ring;
        HWND Pane;
    };

    LRESULT LinesHeld() {
        LRESULT lines = 0;
        for (const Port& port : ports_) lines += SendMessageA(port.Pane, LB_GETCOUNT, 0, 0);
        return lines;
    }

    // Feeds every port 64-byte runs, alternating, in pushes of eight runs a
    // port in turn, while the window is served; returns the lines that the
    // panes then hold more.
    LRESULT Feed(int runsPerPort) {
        LRESULT before = LinesHeld();
        for (int run = 0; run < runsPerPort; run += 8) {
            for (const Port& port : ports_) {
                std::vector<control::CapturedByte> push;
                for (int r = run; r < run + 8 && r < runsPerPort; ++r) {
                    for (int i = 0; i < 64; ++i) {
                        push.push_back({static_cast<uint8_t>('a' + i % 26), uint8_t(2 + r % 2), ++clock_});
                    }
                }
                control::PushRecords(port.Key, push);
            }
            // The rings never fill: what is measured is the lines, not drops.
            testsupport::PumpUntil([&] {
                for (const Port& port : ports_) {
                    CaptureRing* ring = port.Ring;
                    if ((ring->WriteIndex - ring->ReadIndex + kCaptureCapacity) % kCaptureCapacity >= 20000) return false;
                }
                return true;
            });
        }
        LRESULT expected = before + 2 * kPorts * runsPerPort;
        testsupport::PumpUntil([&] { return LinesHeld() >= expected; }, 30000);
        testsupport::PumpFor(300);
        return LinesHeld() - before;
    }

    // The bytes that the run lines of every pane show.
    size_t BytesShown() {
        size_t bytes = 0;
        for (const Port& port : ports_) {
            for (const std::string& line : testsupport::OwnListBoxLines(port.Pane)) {
                if (line.size() >= 5 && (line[0] == '\xB6' || line[0] == '\xB7')) bytes += line.size() - 5;
            }
        }
        return bytes;
    }

    std::vector<Port> ports_;
    uint64_t clock_ = 0;  // rising timestamps: every run has its timing line
};

TEST_F(MemoryTest, BusyPanesGrowWithTheirLinesAndWithNothingElse) {
    const wchar_t* names[kPorts] = {L"COM1", L"COM2", L"COM3", L"COM4"};
    for (const wchar_t* name : names) {
        uint32_t key = Arrive(name);  // the newest port heads the list
        ports_.push_back({key, PortList->CaptureRing, PaneOf(PortList)});
    }
    Feed(250);  // the first lines bring the lasting buffers
    uint64_t before = ResidentBytes();
    LRESULT lines = Feed(7500);
    uint64_t after = ResidentBytes();
    double perLine = (static_cast<double>(after) - static_cast<double>(before)) / static_cast<double>(lines);
    std::printf("memory: %d panes hold %ld lines more for %.1f resident bytes each (a 64-byte run line is 70 "
                "bytes of text)\n", kPorts, static_cast<long>(lines), perLine);
    RecordProperty("BytesPerLine", static_cast<int>(perLine));
    // A run that the capture thread met while the stand-in was still
    // writing it shows as two: the lines are at least two a run, and every
    // byte is there.
    EXPECT_GE(lines, 2 * kPorts * 7500);
    EXPECT_EQ(BytesShown(), size_t{kPorts} * (250 + 7500) * 64);
    for (const Port& port : ports_) EXPECT_EQ(control::DroppedRecords(port.Key), 0u);
    EXPECT_LE(perLine, kMostBytesPerLine) << "resident growth per line held: " << perLine << " bytes, limit "
                                          << kMostBytesPerLine;
    EXPECT_LE(control::RequestLog().size(), 65536u) << "the stand-in's log keeps its latest requests only";
}

}  // namespace
