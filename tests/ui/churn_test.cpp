// Port churn in-process: sixteen port slots whose ports arrive and leave at
// random while every live port streams traffic, flashes and sends notices;
// then the window closes. Nothing may hang or crash, and for every port that
// stayed, every byte that the stand-in wrote into its ring is in its pane, in
// order, with its direction. QUORVEL_CHURN_SECONDS sets the length (15 s in
// make test; make soak runs longer).
#include <windows.h>
#include <process.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/application.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "port/capture_ring.h"
#include "port/capture_runs.h"
#include "port/port_list.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"
#include "support/process_windows.h"
#include "ui/main_window.h"

namespace {

using namespace quorvel;
namespace control = emu::control;

constexpr int kSlots = 16;

double ChurnSeconds() {
    const char* text = std::getenv("QUORVEL_CHURN_SECONDS");
    double seconds = text ? std::atof(text) : 0;
    return seconds > 0 ? seconds : 15;
}

struct Churn {
    double Seconds = 0;
    volatile LONG Stop = 0;
    uint32_t Keys[kSlots] = {};  // 0: the slot has no port; the churn thread's alone
    unsigned long long Arrivals = 0, Losses = 0, Flashes = 0, Notices = 0, Bytes = 0;
};

// Every 10 ms: a port may arrive in an empty slot or leave a full one (not in
// the last two seconds, so that the ports that stay carry traffic too); every
// live port gets a run of 1 to 80 bytes in one direction (bytes never 0,
// which a list box line would end at), now and then a flash or a notice.
unsigned __stdcall ChurnLoop(void* argument) {
    auto* churn = static_cast<Churn*>(argument);
    std::mt19937 random(20261209);
    DWORD start = GetTickCount();
    uint64_t position = 0;
    while (!churn->Stop && GetTickCount() - start < churn->Seconds * 1000) {
        int slot = static_cast<int>(random() % kSlots);
        bool settling = GetTickCount() - start > churn->Seconds * 1000 - 2000;
        if (!settling && random() % 8 == 0) {
            if (churn->Keys[slot]) {
                control::RemovePort(churn->Keys[slot]);
                churn->Keys[slot] = 0;
                ++churn->Losses;
            } else {
                churn->Keys[slot] = control::AddPort(emu::ModemPort(L"COM" + std::to_wstring(slot + 1), slot + 1));
                ++churn->Arrivals;
            }
        }
        for (uint32_t key : churn->Keys) {
            if (!key) continue;
            uint8_t direction = random() % 2 ? kDirectionRx : kDirectionTx;
            std::vector<control::CapturedByte> run(1 + random() % 80);
            for (auto& byte : run) byte = {static_cast<uint8_t>(1 + position++ % 255), direction, position};
            control::PushRecords(key, run);
            churn->Bytes += run.size();
            if (random() % 200 == 0) {
                control::Flash(key, 1 + random() % 7);
                ++churn->Flashes;
            }
            if (random() % 300 == 0) {
                control::SendNotice(key, "churn notice " + std::to_string(position));
                ++churn->Notices;
            }
        }
        Sleep(10);
    }
    return 0;
}

// The (direction, byte) stream that a pane's run lines show, in order.
std::string PaneStream(HWND pane) {
    std::string stream;
    for (const std::string& line : testsupport::OwnListBoxLines(pane)) {
        if (line.size() < kRunPrefixLength) continue;
        unsigned char marker = static_cast<unsigned char>(line[0]);
        if (marker != 0xB6 && marker != 0xB7) continue;  // a timing line
        char direction = marker == 0xB6 ? 'T' : 'R';
        for (size_t k = kRunPrefixLength; k < line.size(); ++k) {
            stream.push_back(direction);
            stream.push_back(line[k]);
        }
    }
    return stream;
}

std::string WrittenStream(uint32_t key) {
    std::string stream;
    for (const control::CapturedByte& byte : control::WrittenRecords(key)) {
        stream.push_back(byte.Direction == kDirectionTx ? 'T' : 'R');
        stream.push_back(static_cast<char>(byte.Data));
    }
    return stream;
}

class ChurnTest : public testsupport::MonitorTest {
protected:
    // Every port that stayed has arrived and drained its ring. A port that
    // left between its arrival and its attach keeps its empty pane until
    // exit (its attach failed, so it has no ring and no waits that could
    // end); every other port that left is gone.
    bool StayedPortsDrained(const std::vector<uint32_t>& stayed) {
        auto stays = [&](uint32_t key) { return std::find(stayed.begin(), stayed.end(), key) != stayed.end(); };
        size_t drained = 0, withoutRing = 0;
        for (PortMonitor* port = PortList; port; port = port->Next) {
            CaptureRing* ring = port->CaptureRing;
            if (!ring) ++withoutRing;
            if (ring && ring->ReadIndex == ring->WriteIndex && stays(port->Header.PortKey)) ++drained;
        }
        return drained == stayed.size() && PortCount == stayed.size() + withoutRing;
    }
};

TEST_F(ChurnTest, PortsComeAndGoWhileTheyStreamAndEveryWrittenByteReachesItsPane) {
    control::KeepWrittenRecords(true);
    Churn churn{.Seconds = ChurnSeconds()};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ChurnLoop, &churn, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    // The test's thread is the program's main thread: it serves the window
    // all the while.
    ASSERT_TRUE(testsupport::PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; },
                                       static_cast<DWORD>(churn.Seconds * 1000) + 30000));
    CloseHandle(thread);
    std::vector<uint32_t> stayed(std::begin(churn.Keys), std::end(churn.Keys));
    std::erase(stayed, 0u);  // the slots without a port
    ASSERT_TRUE(testsupport::PumpUntil([&] { return StayedPortsDrained(stayed); }, 20000))
        << PortCount << " ports for " << stayed.size();
    testsupport::PumpFor(500);  // the last lines reach their panes
    unsigned long long compared = 0;
    for (uint32_t key : stayed) {
        ASSERT_NE(PortOf(key), nullptr);
        std::string written = WrittenStream(key);
        EXPECT_EQ(control::DroppedRecords(key), 0u);
        EXPECT_TRUE(PaneStream(PaneOf(PortOf(key))) == written) << "port " << key << ": " << written.size() / 2;
        compared += written.size() / 2;
    }
    RecordProperty("Arrivals", static_cast<int>(churn.Arrivals));
    RecordProperty("Losses", static_cast<int>(churn.Losses));
    RecordProperty("BytesCompared", static_cast<int>(compared));
    std::printf("churn: %.0f s, %llu arrivals, %llu losses, %llu flashes, %llu notices, %llu bytes pushed, "
                "%zu ports stayed, %llu bytes compared\n",
                churn.Seconds, churn.Arrivals, churn.Losses, churn.Flashes, churn.Notices, churn.Bytes,
                stayed.size(), compared);
    // Closing the window ends every thread and posts the quit message.
    DWORD before = GetTickCount();
    DestroyWindow(main_);
    EXPECT_LT(GetTickCount() - before, 5000u);
    EXPECT_EQ(PortCount, 0u);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u) << "exit code 0";
}

}  // namespace
