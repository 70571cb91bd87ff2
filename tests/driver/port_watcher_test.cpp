// The port watcher against the stand-in: arrivals handed to a real main
// window one at a time, also through a message box's modal loop, and every
// way the watcher ends.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "driver/control_device.h"
#include "driver/port_watcher.h"
#include "wire/request_codes.h"
#include "driver/stop_event.h"
#include "ui/window_commands.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "support/emulated_driver.h"
#include "support/message_box_capture.h"
#include "traced_calls.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using Kind = control::RequestFault::Kind;

// What the test's main window saw of the arrivals.
struct Arrivals {
    std::vector<uint32_t> Keys;         // PortKey of each, in order of arrival
    std::vector<bool> DuringMessageBox;  // whether it came while the box was open
    bool ReleaseAtOnce = true;          // false: kept in Held until the test releases it
    const ArrivalMessage* Held = nullptr;
    int ThreadMessages = 0;             // arrivals that came without a window
};
Arrivals g_arrivals;
bool g_messageBoxOpen = false;

// Takes an arrival as the program's main window does: copies what it needs
// from the header, then releases TakenSemaphore.
void TakeArrival(LPARAM lParam) {
    const auto* message = reinterpret_cast<const ArrivalMessage*>(lParam);
    g_arrivals.Keys.push_back(message->Header->PortKey);
    g_arrivals.DuringMessageBox.push_back(g_messageBoxOpen);
    if (g_arrivals.ReleaseAtOnce) {
        ReleaseSemaphore(message->TakenSemaphore, 1, nullptr);
    } else {
        g_arrivals.Held = message;
    }
}

LRESULT CALLBACK TestMainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == ID_PORT_ARRIVED) {
        TakeArrival(lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool IsArrival(const MSG& message) {
    return message.message == WM_COMMAND && LOWORD(message.wParam) == ID_PORT_ARRIVED;
}

// Waits up to 5 s until a command is queued for this thread, and leaves it there.
void AwaitQueuedCommand() {
    MSG queued;
    DWORD startTick = GetTickCount();
    while (!PeekMessageA(&queued, nullptr, WM_COMMAND, WM_COMMAND, PM_NOREMOVE) && GetTickCount() - startTick < 5000) {
        Sleep(10);
    }
}

class PortWatcherTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSA windowClass = {.lpfnWndProc = TestMainWindowProc, .hInstance = GetModuleHandleA(nullptr),
                                 .lpszClassName = kMainWindowClass};
        RegisterClassA(&windowClass);
    }

    void SetUp() override {
        g_arrivals = Arrivals{};
        testsupport::StartCleanEmulatedDriver();
        ASSERT_TRUE(OpenControlDevice(ControlDevice));
        StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        window_ = CreateWindowExA(0, kMainWindowClass, "Quorvel", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                  100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        control::ClearRequestLog();
        ClearTraceRecords();
    }

    void TearDown() override {
        if (watcher_) {
            SetEvent(StopEvent);
            WaitForSingleObject(watcher_, 5000);
            CloseHandle(watcher_);
        }
        if (window_) DestroyWindow(window_);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        CloseHandle(StopEvent);
        StopEvent = nullptr;
        CloseControlDevice(ControlDevice);
        control::ResetDriver();
        control::ResetServices();
    }

    // Starts the watcher as the start-up does: the block in this frame, and
    // a wait for the start semaphore before the block goes away.
    void StartWatcher(DWORD targetThread = GetCurrentThreadId()) {
        HANDLE start = CreateSemaphoreA(nullptr, 0, 1, nullptr);
        WatcherStartBlock block{window_, WM_COMMAND, MAKEWPARAM(ID_PORT_ARRIVED, 0), targetThread, start};
        watcher_ = CreateThread(nullptr, 0, PortWatcherThread, &block, 0, nullptr);
        ASSERT_NE(watcher_, nullptr);
        EXPECT_EQ(WaitForSingleObject(start, 5000), WAIT_OBJECT_0);
        CloseHandle(start);
    }

    // True when the watcher ends within timeoutMs, with exit code 0.
    bool WatcherEnds(DWORD timeoutMs) {
        if (WaitForSingleObject(watcher_, timeoutMs) != WAIT_OBJECT_0) return false;
        DWORD code = 1;
        GetExitCodeThread(watcher_, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(watcher_);
        watcher_ = nullptr;
        return true;
    }

    // Dispatches this thread's messages until done() or timeoutMs. As in the
    // program's loop, a message without a window goes to the main window.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
        DWORD startTick = GetTickCount();
        for (;;) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!message.hwnd && IsArrival(message)) {
                    ++g_arrivals.ThreadMessages;
                    if (!window_) {
                        TakeArrival(message.lParam);
                        continue;
                    }
                    message.hwnd = window_;
                }
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            if (done()) return true;
            DWORD elapsed = GetTickCount() - startTick;
            if (elapsed >= timeoutMs) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    bool PumpUntilArrivals(size_t count) {
        return PumpUntil([&] { return g_arrivals.Keys.size() >= count; }, 5000);
    }

    static bool ArrivalWaitPending() {
        return control::PendingRequests(IOCTL_LINE_WAIT_PORT_ARRIVAL) == 1;
    }

    void ReleaseHeld() {
        ASSERT_NE(g_arrivals.Held, nullptr);
        ReleaseSemaphore(g_arrivals.Held->TakenSemaphore, 1, nullptr);
        g_arrivals.Held = nullptr;
    }

    HWND window_ = nullptr;
    HANDLE watcher_ = nullptr;
};

TEST_F(PortWatcherTest, ArrivalsAreHandedOverOneAtATimeInOrder) {
    // The first arrival reports fewer bytes than the header has: it counts all
    // the same.
    control::InjectFault(IOCTL_LINE_WAIT_PORT_ARRIVAL, {.FaultKind = Kind::ReplySizeDelta, .SizeDelta = -30});
    uint32_t first = control::AddPort(emu::ModemPort(L"COM1", 1));
    uint32_t second = control::AddPort(emu::ModemPort(L"COM2", 2));
    g_arrivals.ReleaseAtOnce = false;
    StartWatcher();

    for (size_t count = 1; count <= 2; ++count) {
        ASSERT_TRUE(PumpUntilArrivals(count));
        PumpUntil([] { return false; }, 200);
        EXPECT_EQ(g_arrivals.Keys.size(), count) << "no next arrival before this one is taken";
        EXPECT_EQ(control::RequestLog(IOCTL_LINE_WAIT_PORT_ARRIVAL).size(), count)
            << "no next wait either";
        ReleaseHeld();
    }

    // A port that arrives while the wait is pending.
    ASSERT_TRUE(PumpUntil(ArrivalWaitPending, 5000));
    g_arrivals.ReleaseAtOnce = true;
    uint32_t third = control::AddPort(emu::ModemPort(L"COM3", 3));
    ASSERT_TRUE(PumpUntilArrivals(3));
    EXPECT_EQ(g_arrivals.Keys, (std::vector<uint32_t>{first, second, third}));
    EXPECT_EQ(g_arrivals.ThreadMessages, 0) << "posted to the main window";
    EXPECT_TRUE(PumpUntil(ArrivalWaitPending, 5000));
}

TEST_F(PortWatcherTest, AnArrivalPostedWhileAMessageBoxIsOpenIsNotLost) {
    StartWatcher();
    ASSERT_TRUE(PumpUntil(ArrivalWaitPending, 5000));
    uint32_t key = 0;
    auto box = testsupport::CaptureMessageBox([&] {
        key = control::AddPort(emu::ModemPort(L"COM4", 4));
        AwaitQueuedCommand();  // the arrival, before the box's own loop starts
        g_messageBoxOpen = true;
        MessageBoxA(window_, "Port properties text", "Port properties", MB_OK);
        g_messageBoxOpen = false;
    });
    ASSERT_TRUE(box.found);
    ASSERT_EQ(g_arrivals.Keys, std::vector<uint32_t>{key});
    EXPECT_TRUE(g_arrivals.DuringMessageBox[0]) << "taken by the box's loop";
    EXPECT_TRUE(PumpUntil(ArrivalWaitPending, 5000)) << "the watcher waits for the next port";
}

TEST_F(PortWatcherTest, WithoutAMainWindowTheArrivalGoesToTheThread) {
    DestroyWindow(window_);
    window_ = nullptr;
    uint32_t key = control::AddPort(emu::ModemPort(L"COM5", 5));
    StartWatcher();
    ASSERT_TRUE(PumpUntilArrivals(1));
    EXPECT_EQ(g_arrivals.Keys, std::vector<uint32_t>{key});
    EXPECT_EQ(g_arrivals.ThreadMessages, 1);
    EXPECT_TRUE(PumpUntil(ArrivalWaitPending, 5000));
}

// An arrival that neither the window nor its thread takes as a post (here
// the thread has no message queue yet) is posted again until one does; the
// later ports come too.
TEST_F(PortWatcherTest, AnArrivalThatCannotBePostedIsPostedAgainUntilItGoesThrough) {
    DestroyWindow(window_);
    window_ = nullptr;
    std::vector<uint32_t> keys = {control::AddPort(emu::ModemPort(L"COM7", 7)),
                                  control::AddPort(emu::ModemPort(L"COM8", 8))};
    std::vector<uint32_t> taken;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD takerId = 0;
    std::thread taker([&] {
        takerId = GetCurrentThreadId();
        SetEvent(ready);
        Sleep(300);  // no message queue yet: every post to this thread fails
        for (DWORD start = GetTickCount(); taken.size() < keys.size() && GetTickCount() - start < 5000;) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!IsArrival(message)) continue;
                const auto* arrival = reinterpret_cast<const ArrivalMessage*>(message.lParam);
                taken.push_back(arrival->Header->PortKey);
                ReleaseSemaphore(arrival->TakenSemaphore, 1, nullptr);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    StartWatcher(takerId);
    taker.join();
    EXPECT_EQ(taken, keys);
}

TEST_F(PortWatcherTest, StopWhileTheArrivalWaitIsPendingCancelsItAndEndsTheThread) {
    StartWatcher();
    ASSERT_TRUE(PumpUntil(ArrivalWaitPending, 5000));
    SetEvent(StopEvent);
    ASSERT_TRUE(WatcherEnds(5000));
    auto log = control::RequestLog(IOCTL_LINE_WAIT_PORT_ARRIVAL);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].Result, control::LoggedRequest::Outcome::CompletedLater);
    EXPECT_EQ(log[0].Error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(control::PendingRequests(), 0u);
    EXPECT_EQ(testsupport::TracedCalls(), (std::vector<testsupport::TracedCall>{{"CancelIo", true, 0}}));
}

TEST_F(PortWatcherTest, StopInTheMiddleOfAHandOverEndsTheThreadAndLeavesTheMessageReadable) {
    uint32_t key = control::AddPort(emu::ModemPort(L"COM6", 6));
    StartWatcher();
    AwaitQueuedCommand();  // the arrival, which nobody takes
    SetEvent(StopEvent);
    ASSERT_TRUE(WatcherEnds(5000));
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_WAIT_PORT_ARRIVAL).size(), 1u);

    // What a late reader of the queued arrival finds: the record and the
    // header are still there, and no semaphore to release any more.
    MSG queued;
    ASSERT_TRUE(PeekMessageA(&queued, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));
    ASSERT_TRUE(IsArrival(queued));
    const auto* message = reinterpret_cast<const ArrivalMessage*>(queued.lParam);
    EXPECT_EQ(message->Header->PortKey, key);
    EXPECT_EQ(message->TakenSemaphore, nullptr);
}

TEST_F(PortWatcherTest, TheWatcherEndsWithoutADeviceAndWhenTheArrivalWaitFails) {
    {
        SCOPED_TRACE("no control device");
        HANDLE device = ControlDevice;
        ControlDevice = INVALID_HANDLE_VALUE;
        StartWatcher();
        ASSERT_TRUE(WatcherEnds(1000));
        ControlDevice = device;
        EXPECT_TRUE(control::RequestLog().empty());
    }
    // A wait that failed at once leaves nothing outstanding to cancel.
    const struct { const char* Name; Kind Fault; DWORD EndsWithinMs; std::vector<std::string> Traced; } failures[] = {
        {"failing at once", Kind::FailAtOnce, 1000, {}},
        {"failing after pending", Kind::FailAfterPending, 2000, {"CancelIo"}},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.Name);
        control::InjectFault(IOCTL_LINE_WAIT_PORT_ARRIVAL, {.FaultKind = failure.Fault});
        StartWatcher();
        ASSERT_TRUE(WatcherEnds(failure.EndsWithinMs));
        EXPECT_EQ(testsupport::TracedNames(), failure.Traced);
    }
    EXPECT_TRUE(g_arrivals.Keys.empty());
    EXPECT_EQ(control::PendingRequests(), 0u);
}

}  // namespace
