// A pane whose list box runs out of room: it refuses lines (LB_ERRSPACE,
// LB_ERR) for a while, injected through the intake's own seam since a real
// list box cannot be filled in a test. Throughout, the window answers posted
// messages at once, no thread spins, the other pane takes every line, and
// once the pane takes lines again it shows where, and how many, lines are
// missing.
#include <windows.h>
#include <process.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "emulator/control/test_control.h"
#include "port/capture_ring.h"
#include "port/pane_line_queue.h"
#include "port/port_list.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"
#include "support/process_cpu.h"
#include "support/process_windows.h"
#include "ui/line_intake.h"

namespace {

using namespace quorvel;
namespace control = emu::control;

constexpr UINT kProbe = WM_APP + 0x51;
constexpr DWORD kProbeIntervalMs = 20;
constexpr DWORD kMostAnswerMs = 100;
// The longest wait is held only to this: the machine these tests run on can
// stand still as a whole (a virtual machine paused by its host) for over a
// tenth of a second, holding up the one post then waiting, since the
// probe's thread stands still too. A main thread that is held up holds every
// post made meanwhile, so the second longest wait keeps kMostAnswerMs.
constexpr DWORD kMostSingleAnswerMs = 500;

// The pane that refuses lines while g_refusing; the refusals alternate
// between the list box's two answers.
HWND g_refusingPane = nullptr;
bool g_refusing = false;
int g_refusals = 0;

LRESULT AddOrRefuse(HWND pane, const char* line) {
    if (pane == g_refusingPane && g_refusing) return ++g_refusals % 2 ? LB_ERRSPACE : LB_ERR;
    return SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

// Posts kProbe to the main window every 20 ms from a thread of its own, with
// the tick of the post; the main window, subclassed, keeps the longest wait.
class AnswerProbe {
public:
    explicit AnswerProbe(HWND main) : main_(main) {
        g_longestWaitMs = 0;
        g_secondWaitMs = 0;
        g_answers = 0;
        g_posts = 0;
        s_original = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(main, GWLP_WNDPROC));
        SetWindowLongPtrA(main, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Answer));
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Post, this, 0, nullptr));
    }
    ~AnswerProbe() {
        Stop();
        CloseHandle(thread_);
        CloseHandle(stop_);
        SetWindowLongPtrA(main_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s_original));
    }

    // Ends the posts, then serves the window until it has answered every one
    // of them (or for a second).
    void Stop() {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        testsupport::PumpUntil([] { return g_answers == g_posts; }, 1000);
    }

    // Every message posted while the probe ran was answered, each within the limit.
    void StopAndExpectEveryPostAnswered() {
        Stop();
        std::printf("refused lines: %d refusals; the window answered %ld of %ld posts, the slowest two in %lu and "
                    "%lu ms\n", g_refusals, g_answers, g_posts, static_cast<unsigned long>(g_longestWaitMs),
                    static_cast<unsigned long>(g_secondWaitMs));
        EXPECT_GT(g_posts, 0) << "the probe ran";
        EXPECT_EQ(g_answers, g_posts) << "every post was answered";
        EXPECT_LE(g_secondWaitMs, kMostAnswerMs) << "the second longest wait of a posted message, ms";
        EXPECT_LE(g_longestWaitMs, kMostSingleAnswerMs) << "the longest wait of a posted message, ms";
    }
    // Written and read on the main thread; the posts are counted by the
    // probe's thread with an interlocked increment.
    static inline DWORD g_longestWaitMs = 0;
    static inline DWORD g_secondWaitMs = 0;
    static inline LONG g_answers = 0;
    static inline volatile LONG g_posts = 0;

private:
    static LRESULT CALLBACK Answer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kProbe) {
            DWORD waited = GetTickCount() - static_cast<DWORD>(lParam);
            if (waited > g_longestWaitMs) std::swap(waited, g_longestWaitMs);
            if (waited > g_secondWaitMs) g_secondWaitMs = waited;
            ++g_answers;
            return 0;
        }
        return CallWindowProcA(s_original, window, message, wParam, lParam);
    }
    static unsigned __stdcall Post(void* argument) {
        auto* probe = static_cast<AnswerProbe*>(argument);
        while (WaitForSingleObject(probe->stop_, kProbeIntervalMs) == WAIT_TIMEOUT) {
            InterlockedIncrement(&g_posts);
            PostMessageA(probe->main_, kProbe, 0, static_cast<LPARAM>(GetTickCount()));
        }
        return 0;
    }
    static inline WNDPROC s_original = nullptr;  // the main window's procedure; main thread
    HWND main_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};

class RefusedLinesTest : public testsupport::MonitorTest {
protected:
    void TearDown() override {
        SetPaneLineAdder(nullptr);
        g_refusing = false;
        MonitorTest::TearDown();
    }

    struct Port {
        uint32_t Key;
        PortMonitor* Monitor;
        HWND Pane;
    };

    LRESULT Lines(const Port& port) { return SendMessageA(port.Pane, LB_GETCOUNT, 0, 0); }

    // Every record taken from the rings and every line queued taken and
    // added (or refused).
    bool AllLinesHandled() {
        for (const Port& port : ports_) {
            const CaptureRing* ring = port.Monitor->CaptureRing;
            if (ring->ReadIndex != ring->WriteIndex || !AllTakenLinesAdded(port.Monitor->PaneLines)) return false;
        }
        return !AnyListedQueue();
    }

    // Feeds both ports runs of 64 bytes, each with its timing line, and
    // serves the window until every line is handled.
    void Feed(int runs) {
        for (int run = 0; run < runs; run += 16) {
            for (const Port& port : ports_) {
                std::vector<control::CapturedByte> push;
                for (int r = run; r < run + 16 && r < runs; ++r) {
                    for (int i = 0; i < 64; ++i) push.push_back({uint8_t('A' + i % 26), uint8_t(2 + r % 2), ++clock_});
                }
                control::PushRecords(port.Key, push);
            }
            testsupport::PumpFor(5);
        }
        EXPECT_TRUE(testsupport::PumpUntil([&] { return AllLinesHandled(); }, 20000));
    }

    static uint64_t ProcessCpuMs() { return static_cast<uint64_t>(testsupport::ProcessCpuSeconds() * 1000); }

    std::vector<Port> ports_;
    uint64_t clock_ = 0;
};

TEST_F(RefusedLinesTest, APaneOutOfRoomCountsWhatItCannotShowAndNothingElseStops) {
    for (const wchar_t* name : {L"COM1", L"COM2"}) {
        uint32_t key = Arrive(name);  // the newest port heads the list
        ports_.push_back({key, PortList, PaneOf(PortList)});
    }
    const Port& full = ports_[0];
    const Port& other = ports_[1];
    g_refusingPane = full.Pane;
    g_refusals = 0;
    SetPaneLineAdder(AddOrRefuse);

    Feed(50);
    ASSERT_EQ(Lines(full), 100);
    ASSERT_EQ(Lines(other), 100);

    // The pane has no room: its lines are counted, the other pane goes on,
    // and the window answers every message posted meanwhile.
    AnswerProbe probe(main_);
    g_refusing = true;
    Feed(1500);
    EXPECT_EQ(Lines(full), 100) << "nothing was added";
    EXPECT_EQ(Lines(other), 3100);
    EXPECT_EQ(MissedLines(full.Monitor->PaneLines), 3000u);
    EXPECT_EQ(g_refusals, 3000) << "one refused add a line: none is retried";
    // Still refusing, with nothing more to add: no thread works on.
    uint64_t cpuBefore = ProcessCpuMs();
    DWORD wallBefore = GetTickCount();
    testsupport::PumpFor(1000);
    uint64_t cpu = ProcessCpuMs() - cpuBefore;
    DWORD wall = GetTickCount() - wallBefore;
    EXPECT_LT(cpu, wall / 4) << "process time " << cpu << " ms in " << wall << " ms";
    probe.StopAndExpectEveryPostAnswered();

    // Room again: one line tells of the gap, then the lines go on.
    g_refusing = false;
    Feed(10);
    std::vector<std::string> lines = testsupport::OwnListBoxLines(full.Pane);
    ASSERT_EQ(lines.size(), 121u);
    EXPECT_EQ(lines[100], "(3000 lines could not be shown)");
    EXPECT_EQ(lines[101].front(), '{') << "a timing line follows the notice";
    EXPECT_EQ(lines[102].substr(0, 5), "\xB7RX: ");
    EXPECT_EQ(MissedLines(full.Monitor->PaneLines), 0u);
    EXPECT_EQ(Lines(other), 3120);
    for (const Port& port : ports_) EXPECT_EQ(control::DroppedRecords(port.Key), 0u);
}

}  // namespace
