// A port's capture thread against the stand-in's filter driver, writing into
// a real list box whose main window belongs to the test's thread.
#include <windows.h>
#include <process.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "wire/request_codes.h"
#include "driver/stop_event.h"
#include "ui/window_commands.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "port/capture_requests.h"
#include "port/capture_ring.h"
#include "port/capture_thread.h"
#include "port/driver_notice.h"
#include "ui/flash_brushes.h"
#include "port/port_monitor.h"
#include "port/ring_memory.h"
#include "support/emulated_driver.h"
#include "support/message_pump.h"
#include "support/message_recorder.h"
#include "support/process_windows.h"
#include "system/system_calls.h"
#include "ui/capture_pane_window.h"
#include "ui/line_intake.h"
#include "ui/sent_message_wait.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using Kind = control::RequestFault::Kind;

using testsupport::PumpFor;
using testsupport::RecordedMessage;
using testsupport::SequenceIs;
using testsupport::OwnListBoxLines;
using testsupport::PumpUntil;

// Reserves every free region below limit that could hold bytes, so that
// nothing of that size can be placed there until the regions are released.
// Wine refuses a reservation across some of its own boundaries within a free
// region: such a region is taken in smaller blocks.
std::vector<void*> ReserveRoomBelow(uint64_t limit, size_t bytes) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uint64_t granularity = system.dwAllocationGranularity;
    auto at = [](uint64_t address) { return reinterpret_cast<void*>(static_cast<uintptr_t>(address)); };
    std::vector<void*> reserved;
    uint64_t address = granularity;
    MEMORY_BASIC_INFORMATION region;
    while (address < limit && VirtualQuery(at(address), &region, sizeof(region))) {
        uint64_t end = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        uint64_t start = (address + granularity - 1) / granularity * granularity;
        uint64_t top = end < limit ? end : limit;
        uint64_t block = top > start ? top - start : 0;
        while (region.State == MEM_FREE && start + bytes <= top) {
            if (block > top - start) block = top - start;
            if (void* taken = VirtualAlloc(at(start), static_cast<size_t>(block), MEM_RESERVE, PAGE_NOACCESS)) {
                reserved.push_back(taken);
                start += block;
            } else if (block > granularity) {
                block = (block / 2 + granularity - 1) / granularity * granularity;
            } else {
                start += granularity;
            }
        }
        address = end;
    }
    return reserved;
}

// The text of the latest notice published.
std::string PublishedNotice() {
    char text[kNoticeSize];
    CopyNoticeText(text);
    return text;
}

class CaptureThreadTest : public testsupport::EmulatedDeviceTest {
protected:
    void SetUp() override {
        EmulatedDeviceTest::SetUp();
        control::SetTickFrequency(1000);  // millisecond ticks: readable timing lines
        StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        UseWindowCapturePane();
        ASSERT_TRUE(StartLineIntake());

        background_ = CreateSolidBrush(RGB(1, 2, 3));
        WNDCLASSA windowClass = {.lpfnWndProc = DefWindowProcA, .hInstance = GetModuleHandleA(nullptr),
                                 .hbrBackground = background_, .lpszClassName = "CaptureTestMain"};
        RegisterClassA(&windowClass);
        main_ = CreateWindowExA(0, "CaptureTestMain", "capture", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
        listBox_ = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", nullptr,
                                   WS_CHILD | WS_VSCROLL | LBS_NOTIFY, 0, 0, 380, 250, main_,
                                   nullptr, nullptr, nullptr);
        ASSERT_TRUE(IsWindow(listBox_));
        commands_.Attach(main_);
    }

    void TearDown() override {
        if (thread_) {
            SetEvent(StopEvent);
            WaitServingSentMessages(thread_);
            CloseHandle(thread_);
        }
        if (port_) {
            ForgetPaneIntake(port_->PaneLines);
            ReleaseStorage(*port_);
            delete port_;
        }
        StopLineIntake();
        if (IsWindow(main_)) DestroyWindow(main_);
        UnregisterClassA("CaptureTestMain", GetModuleHandleA(nullptr));
        DeleteObject(background_);
        DeleteFlashBrushes();
        CloseHandle(StopEvent);
        StopEvent = nullptr;
        EmulatedDeviceTest::TearDown();
    }

    // A modem arrives, gets its record and its capture thread; returns once
    // the ring is attached and the first waits are issued (when armed).
    void StartCapture(bool armed = true) {
        control::PortBlobs modem = emu::ModemPort(L"COM1", 1);
        PortPropertyHeader header = testsupport::ArriveAndTakeHeader(device_, modem);
        key_ = header.PortKey;
        port_ = new PortMonitor(device_);
        ASSERT_TRUE(FetchProperties(*port_, header));

        CaptureStartBlock block{listBox_, port_, CreateSemaphoreA(nullptr, 0, 1, nullptr)};
        thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, CaptureThread, &block, 0, nullptr));
        ASSERT_NE(thread_, nullptr);
        SetPane(*port_, listBox_, thread_);  // as the program does: the intake finds the pane there
        WaitForSingleObject(block.Started, INFINITE);
        CloseHandle(block.Started);
        if (!armed) return;
        ASSERT_TRUE(PumpUntil([&] {
            return control::IsCaptureAttached(key_) &&
                   control::PendingRequests(IOCTL_LINE_WAIT_DATA) == 1 &&
                   control::PendingRequests(IOCTL_LINE_WAIT_NOTICE) == 1;
        }));
    }

    std::vector<std::string> Lines() { return OwnListBoxLines(listBox_); }

    bool WaitForLines(size_t count) {
        return PumpUntil([&] { return Lines().size() >= count; });
    }

    bool ThreadEnded(DWORD timeoutMs = 5000) {
        return PumpUntil([&] { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }, timeoutMs);
    }

    HBRUSH ClassBackground() {
        return reinterpret_cast<HBRUSH>(GetClassLongPtrA(main_, GCLP_HBRBACKGROUND));
    }

    // The main window's commands (the lost port's removal), in order.
    testsupport::MessageRecorder commands_{WM_COMMAND};
    HBRUSH background_ = nullptr;
    HWND main_ = nullptr;
    HWND listBox_ = nullptr;
    PortMonitor* port_ = nullptr;
    HANDLE thread_ = nullptr;
    uint32_t key_ = 0;
};

TEST_F(CaptureThreadTest, ReceivedAndTransmittedRunsComeInOrderWithTheirTiming) {
    StartCapture();
    EXPECT_TRUE(IsWindowVisible(listBox_)) << "the thread shows its pane";
    control::ClearRequestLog();
    control::PushRecords(key_, {{'A', 2, 100}, {'T', 2, 250}, {'O', 3, 2000}, {'K', 3, 2257}});
    ASSERT_TRUE(WaitForLines(4));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"{250ms}", "\xB7RX: AT", "{2.007s}", "\xB6TX: OK"}));
    PumpFor(100);
    // The second run was built without another data wait in between: the
    // only data wait issued is the one after both runs.
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_WAIT_DATA).size(), 1u);
    EXPECT_EQ(port_->CaptureRing->ReadIndex, 4u);
    EXPECT_EQ(port_->LatestTimestamp, 2257u);
}

TEST_F(CaptureThreadTest, AttachLendsTheRingWithItsKeyAndOptions) {
    StartCapture();
    auto attach = control::RequestLog(IOCTL_LINE_ATTACH_CAPTURE);
    ASSERT_EQ(attach.size(), 1u);
    ASSERT_EQ(attach[0].Input.size(), sizeof(AttachRequest));
    AttachRequest request;
    std::memcpy(&request, attach[0].Input.data(), sizeof(request));
    EXPECT_EQ(request.RingAddress, reinterpret_cast<uintptr_t>(port_->CaptureRing));
    EXPECT_EQ(request.RecordForm, 1u);
    EXPECT_EQ(port_->CaptureRing->Capacity, kCaptureCapacity);
    EXPECT_EQ(port_->CaptureRing->PortKey, key_);
    EXPECT_EQ(port_->CaptureRing->TickFrequency, 1000u);
    auto data = control::RequestLog(IOCTL_LINE_WAIT_DATA);
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data[0].Input, control::NumberBlob(key_));
}

// The attach record carries the ring's address in 32 bits: the ring is placed
// where such an address reaches it, and where no room is left the attach is
// not sent at all rather than with a cut address.
TEST_F(CaptureThreadTest, TheRingIsPlacedWhereItsThirtyTwoBitAddressReachesIt) {
    PortPropertyHeader header = testsupport::ArriveAndTakeHeader(device_, emu::ModemPort(L"COM1", 1));
    port_ = new PortMonitor(device_);
    ASSERT_TRUE(FetchProperties(*port_, header));
    control::ClearRequestLog();

    const size_t bytes = CaptureRingBytes(kCaptureCapacity);
    EXPECT_EQ(AllocateRingMemory(bytes, bytes), nullptr) << "below its own size it can never fit";
    if (sizeof(void*) == 8) {
        // Every address of a 32-bit process fits; a 64-bit one can run out
        // of room below 4 GiB.
        std::vector<void*> reserved = ReserveRoomBelow(kRingAddressLimit, bytes);
        ASSERT_FALSE(reserved.empty());
        bool attached = AttachCapture(*port_);
        for (void* region : reserved) VirtualFree(region, 0, MEM_RELEASE);
        EXPECT_FALSE(attached);
        EXPECT_EQ(port_->CaptureRing, nullptr);
        EXPECT_TRUE(control::RequestLog(IOCTL_LINE_ATTACH_CAPTURE).empty());
    }

    ASSERT_TRUE(AttachCapture(*port_));
    ASSERT_NE(port_->CaptureRing, nullptr);
    uintptr_t ring = reinterpret_cast<uintptr_t>(port_->CaptureRing);
    EXPECT_LE(uint64_t{ring} + bytes, kRingAddressLimit);
    auto attach = control::RequestLog(IOCTL_LINE_ATTACH_CAPTURE);
    ASSERT_EQ(attach.size(), 1u);
    AttachRequest request;
    std::memcpy(&request, attach[0].Input.data(), sizeof(request));
    EXPECT_EQ(uintptr_t{request.RingAddress}, ring);
    control::PushRecords(header.PortKey, {{'Z', 2, 1}});
    EXPECT_EQ(port_->CaptureRing->WriteIndex, 1u) << "the stand-in writes into the very ring";
    EXPECT_EQ(RingRecords(port_->CaptureRing)[0].Data, 'Z');
}

// The main thread adds the lines, a whole gathering at a time with the
// pane's redraw off, which comes back on at its pace; a pane that shows its
// last line follows the newest when it is repainted.
TEST_F(CaptureThreadTest, LinesAreAddedWithRedrawOffAndTheTailIsFollowed) {
    testsupport::MessageRecorder pane{WM_SETREDRAW, LB_ADDSTRING};
    pane.Attach(listBox_);
    StartCapture();
    auto redrawOn = [&] {
        return PumpUntil([&] { return !pane.Messages().empty() && pane.Messages().back().Message == WM_SETREDRAW &&
                                      pane.Messages().back().WParam == TRUE; });
    };
    control::PushRecords(key_, {{'A', 2, 1}});
    ASSERT_TRUE(WaitForLines(2));
    EXPECT_TRUE(redrawOn());
    EXPECT_TRUE(SequenceIs(pane.Messages(), {{WM_SETREDRAW, FALSE}, {LB_ADDSTRING}, {LB_ADDSTRING}, {WM_SETREDRAW, TRUE}}));
    std::vector<control::CapturedByte> burst;
    for (uint64_t i = 0; i < 200; ++i) burst.push_back({static_cast<uint8_t>('a' + i % 26), uint8_t(2 + i % 2), 2 + i});
    control::PushRecords(key_, burst);
    ASSERT_TRUE(WaitForLines(402));
    EXPECT_EQ(pane.CountWhileRedrawOff(LB_ADDSTRING), 402u) << "every line with redraw off";
    EXPECT_TRUE(redrawOn());
    auto top = [&] { return static_cast<int>(SendMessageA(listBox_, LB_GETTOPINDEX, 0, 0)); };
    int visible = static_cast<int>(SendMessageA(listBox_, LB_GETCOUNT, 0, 0)) - top();
    EXPECT_GT(top(), 0) << "the view followed the newest line";
    // Scrolled up, the view stays; back at the bottom, it follows again.
    SendMessageA(listBox_, LB_SETTOPINDEX, 10, 0);
    control::PushRecords(key_, {{'B', 3, 300}, {'C', 2, 301}});
    ASSERT_TRUE(WaitForLines(406));
    EXPECT_EQ(top(), 10);
    SendMessageA(listBox_, LB_SETTOPINDEX, 406 - visible, 0);
    control::PushRecords(key_, {{'D', 3, 302}});
    ASSERT_TRUE(WaitForLines(408));
    EXPECT_TRUE(redrawOn()) << "the view moves at the repaint";
    EXPECT_EQ(top(), 408 - visible);
    EXPECT_EQ(Lines().back(), "\xB6TX: D");
}

TEST_F(CaptureThreadTest, AWrappedRingIsReadAcrossItsEnd) {
    StartCapture();
    // The thread waits with nothing pending; move both indices near the end.
    port_->CaptureRing->ReadIndex = 99998;
    port_->CaptureRing->WriteIndex = 99998;
    control::PushRecords(key_, {{'A', 2, 1}, {'B', 2, 2}, {'C', 2, 3}, {'D', 2, 4}});
    ASSERT_TRUE(WaitForLines(2));
    EXPECT_EQ(Lines()[1], "\xB7RX: ABCD");
    EXPECT_EQ(port_->CaptureRing->ReadIndex, 2u);
}

TEST_F(CaptureThreadTest, TimingOnlyForNewerTimestampsAndZeroBytesAreKept) {
    StartCapture();
    control::PushRecords(key_, {{'A', 2, 500}});
    ASSERT_TRUE(WaitForLines(2));
    control::PushRecords(key_, {{'B', 3, 400}});             // older: no timing line
    ASSERT_TRUE(WaitForLines(3));
    control::PushRecords(key_, {{'x', 9, 500}, {'y', 9, 500}});  // other code, not newer
    ASSERT_TRUE(WaitForLines(4));
    control::PushRecords(key_, {{'C', 2, 600}, {'\0', 2, 600}, {'D', 2, 600}});
    ASSERT_TRUE(WaitForLines(6));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"{500ms}", "\xB7RX: A", "\xB6TX: B", "xy",
                                                 "{100ms}", "\xB7RX: C"}));
}

TEST_F(CaptureThreadTest, NoTimingLinesWithoutATickFrequency) {
    control::SetTickFrequency(0);
    StartCapture();
    control::PushRecords(key_, {{'A', 2, 100}, {'B', 3, 200}});
    ASSERT_TRUE(WaitForLines(2));
    PumpFor(50);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"\xB7RX: A", "\xB6TX: B"}));
}

TEST_F(CaptureThreadTest, ColourFlashHidesThePaneUntilHalfASecondIsQuiet) {
    StartCapture();
    control::Flash(key_, 5);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(listBox_); }));
    HBRUSH flash = ClassBackground();
    LOGBRUSH colour{};
    GetObjectA(flash, sizeof colour, &colour);
    EXPECT_EQ(colour.lbColor, RGB(127, 0, 127)) << "colour 5 is purple";

    // Data every 200 ms keeps the flash; it ends 500 ms after the last.
    for (int i = 0; i < 4; ++i) {
        PumpFor(200);
        control::PushBytes(key_, 2, "x");
        EXPECT_FALSE(IsWindowVisible(listBox_));
    }
    DWORD last = GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(listBox_) != FALSE; }, 3000));
    DWORD quiet = GetTickCount() - last;
    EXPECT_GE(quiet, 450u);
    EXPECT_LE(quiet, 1500u);
    EXPECT_EQ(ClassBackground(), background_);
}

TEST_F(CaptureThreadTest, ColourZeroAndColoursAboveSevenChangeNothing) {
    StartCapture();
    control::Flash(key_, 0);
    control::Flash(key_, 8);
    control::Flash(key_, 0xFFFFFFFF);
    ASSERT_TRUE(PumpUntil([&] { return control::RequestLog(IOCTL_LINE_WAIT_SIGNAL).size() >= 4; }));
    PumpFor(50);
    EXPECT_TRUE(IsWindowVisible(listBox_));
    EXPECT_EQ(ClassBackground(), background_);
}

TEST_F(CaptureThreadTest, ANoticeIsPublishedAndStartsTheBlink) {
    StartCapture();
    InterlockedExchange(&NoticeBlink, 40);
    control::SendNotice(key_, "RING");
    ASSERT_TRUE(PumpUntil([] { return NoticeBlink == 1; }));
    EXPECT_EQ(PublishedNotice(), "RING");

    control::SendNotice(key_, std::string(600, 'n'));
    ASSERT_TRUE(PumpUntil([] { return PublishedNotice()[0] == 'n'; }));
    EXPECT_EQ(PublishedNotice(), std::string(399, 'n')) << "cut to its 400 bytes, terminated";
}

TEST_F(CaptureThreadTest, TheLossOfThePortPostsRemovalAndClose) {
    StartCapture();
    control::RemovePort(key_);
    ASSERT_TRUE(ThreadEnded());
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(listBox_); })) << "WM_CLOSE destroys the pane";
    EXPECT_TRUE(SequenceIs(commands_.Messages(), {{WM_COMMAND, ID_PORT_REMOVED, reinterpret_cast<LPARAM>(port_)}}));
    EXPECT_EQ(control::PendingRequests(), 0u);
    EXPECT_TRUE(control::RequestLog(IOCTL_LINE_DETACH_CAPTURE).empty()) << "a lost port is not detached";
}

TEST_F(CaptureThreadTest, StopEventEndsTheThreadQuietly) {
    StartCapture();
    SetEvent(StopEvent);
    ASSERT_TRUE(ThreadEnded());
    PumpFor(50);
    EXPECT_TRUE(commands_.Messages().empty());
    EXPECT_TRUE(IsWindow(listBox_));
    EXPECT_EQ(control::PendingRequests(), 0u) << "the waits were cancelled and awaited";
    auto detach = control::RequestLog(IOCTL_LINE_DETACH_CAPTURE);
    ASSERT_EQ(detach.size(), 1u);
    EXPECT_EQ(detach[0].Input, control::NumberBlob(key_));
}

TEST_F(CaptureThreadTest, StopEventEndsALongDrainBetweenItsRuns) {
    StartCapture();
    std::vector<control::CapturedByte> bytes;
    for (uint64_t i = 0; i < 20000; ++i) bytes.push_back({'x', static_cast<uint8_t>(2 + i % 2), i});
    control::PushRecords(key_, bytes);  // 20000 runs of one byte each
    ASSERT_TRUE(WaitForLines(10));
    DWORD start = GetTickCount();
    SetEvent(StopEvent);
    ASSERT_TRUE(ThreadEnded(2000));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_LT(Lines().size(), 40000u) << "it stopped before draining the ring";
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_DETACH_CAPTURE).size(), 1u);
}

TEST_F(CaptureThreadTest, ABrokenRingIsNotReadAndCaptureGoesOn) {
    StartCapture();
    port_->CaptureRing->WriteIndex = kCaptureCapacity + 5;  // beyond the ring
    control::WakeDataWait(key_);
    PumpFor(1000);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(WaitForSingleObject(thread_, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // The stand-in completes each data wait at once while the ring looks
    // full to it: a pause between them, not a flood.
    EXPECT_LE(control::RequestLog(IOCTL_LINE_WAIT_DATA).size(), 6u);
    port_->CaptureRing->WriteIndex = port_->CaptureRing->ReadIndex;  // the driver recovers
    control::PushRecords(key_, {{'O', 3, 1}, {'K', 3, 2}});
    ASSERT_TRUE(WaitForLines(2));
    EXPECT_EQ(Lines()[1], "\xB6TX: OK");
}

TEST_F(CaptureThreadTest, AFailingWaitEndsTheCaptureAsIfThePortWereLost) {
    HANDLE realStop = StopEvent;
    StopEvent = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0));  // not a handle
    ASSERT_NO_FATAL_FAILURE(StartCapture(false));
    ASSERT_TRUE(ThreadEnded());
    StopEvent = realStop;
    ASSERT_TRUE(PumpUntil([&] { return !commands_.Messages().empty(); }));
    EXPECT_EQ(commands_.Messages()[0].WParam, ID_PORT_REMOVED);
    EXPECT_EQ(control::PendingRequests(), 0u) << "pending waits cancelled and awaited";
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_DETACH_CAPTURE).size(), 1u);
    EXPECT_FALSE(control::IsCaptureAttached(key_)) << "the driver let go of the ring before its memory can go";
}

// The main thread's requests take the port's ring: it is the port's only
// once the attach has ended, not while it is pending (the end of a pending
// attach is not examined), and never when it failed at once.
TEST_F(CaptureThreadTest, TheRingIsThePortsOnlyOnceTheAttachHasEnded) {
    control::InjectFault(IOCTL_LINE_ATTACH_CAPTURE, {.FaultKind = Kind::FailAfterPending, .DelayMs = 300});
    ASSERT_NO_FATAL_FAILURE(StartCapture(false));
    ASSERT_TRUE(PumpUntil([] { return control::PendingRequests(IOCTL_LINE_ATTACH_CAPTURE) == 1; }));
    EXPECT_EQ(port_->CaptureRing, nullptr) << "while the attach is pending";
    ASSERT_TRUE(PumpUntil([&] { return control::RequestLog(IOCTL_LINE_WAIT_DATA).size() == 1; }));
    EXPECT_NE(port_->CaptureRing, nullptr) << "once it has ended";

    control::InjectFault(IOCTL_LINE_ATTACH_CAPTURE, {});
    PortMonitor other(device_);
    other.Header.PortKey = key_;
    EXPECT_FALSE(AttachCapture(other));
    EXPECT_EQ(other.CaptureRing, nullptr) << "failed at once";
}

// A wait that fails at once is tried again at the next arming (after the
// next completion of another wait), never in a loop of its own, and it holds
// up nothing.
TEST_F(CaptureThreadTest, AWaitThatFailsAtOnceIsRetriedAtTheNextArmingAndDoesNotHoldUpTheStop) {
    control::InjectFault(IOCTL_LINE_WAIT_SIGNAL, {.FaultKind = Kind::FailAtOnce, .Times = 0});
    StartCapture();
    control::PushRecords(key_, {{'A', 2, 1}});
    ASSERT_TRUE(WaitForLines(2));
    PumpFor(100);
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_WAIT_SIGNAL).size(), 2u) << "once at the start, once after the data";
    SetEvent(StopEvent);
    EXPECT_TRUE(ThreadEnded(3000));
}

}  // namespace
