// The monitor in-process: the start-up builds the main window, the stand-in
// reports ports, and the main window gives each its pane, lays the panes out,
// removes lost ports and tears everything down at its destruction.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/application.h"
#include "driver/port_watcher.h"
#include "wire/request_codes.h"
#include "ui/window_commands.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "port/port_list.h"
#include "support/message_pump.h"
#include "support/message_recorder.h"
#include "support/monitor_fixture.h"
#include "ui/main_window.h"
#include "ui/port_panes.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using testsupport::PumpFor;
using testsupport::PumpUntil;

using testsupport::Height;
using testsupport::MonitorTest;
using testsupport::RectInClient;
using testsupport::Width;

// Where a child of the main window sits in its client area, and how wide it is: "left,top width".
std::string LeftTopWidth(HWND main, HWND child) {
    RECT placed = RectInClient(main, child);
    return std::to_string(placed.left) + "," + std::to_string(placed.top) + " " + std::to_string(Width(placed));
}

TEST_F(MonitorTest, TheEditsAreCreatedFirstHiddenAndDisabled) {
    EXPECT_EQ(GetDlgCtrlID(command_), static_cast<int>(IDC_COMMAND_EDIT));
    EXPECT_EQ(GetDlgCtrlID(response_), static_cast<int>(IDC_RESPONSE_EDIT));
    EXPECT_FALSE(IsWindowVisible(command_));
    EXPECT_FALSE(IsWindowEnabled(response_));
    EXPECT_NE(RefreshTimerId, 0u);
    EXPECT_EQ(PortCount, 0u);
}

TEST_F(MonitorTest, TheFirstPortSplitsTheEditsAndFitsTheWindowToItsPane) {
    SetClientSize(301, 400);
    Arrive(L"COM1");
    int edit = EditHeight();
    EXPECT_TRUE(IsWindowVisible(command_));
    EXPECT_TRUE(IsWindowVisible(response_));
    EXPECT_EQ(LeftTopWidth(main_, command_), "0,0 150");
    EXPECT_EQ(LeftTopWidth(main_, response_), "150,0 151");

    HWND pane = PaneOf(PortList);
    RECT placed = RectInClient(main_, pane);
    EXPECT_EQ(LeftTopWidth(main_, pane), "0," + std::to_string(edit) + " 301");
    EXPECT_LE(Height(placed), 400 - edit);
    EXPECT_EQ(Client().bottom, edit + Height(placed)) << "the window fits the pane's actual height";
    EXPECT_EQ(GetDlgCtrlID(pane), static_cast<int>(IDC_PORT_LIST));
    EXPECT_EQ(GetWindowLongPtrA(pane, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(PortList));
    EXPECT_TRUE(IsWindowVisible(pane));
}

TEST_F(MonitorTest, ThreePortsShareTheHeightNewestFirst) {
    for (const wchar_t* name : {L"COM1", L"COM2", L"COM3"}) Arrive(name);
    int edit = EditHeight();
    SetClientSize(300, edit + 100);  // each pane is asked for 33 pixels
    std::string order;
    int top = edit;  // the newest pane directly under the edits, each next one under the one before
    for (PortMonitor* port = PortList; port; port = port->Next) {
        RECT placed = RectInClient(main_, PaneOf(port));
        order += std::string(port->ComPort) + " ";
        EXPECT_EQ(placed.top, top) << port->ComPort;
        EXPECT_LE(Height(placed), 33);
        EXPECT_GE(Height(placed), 33 - static_cast<int>(SendMessageA(PaneOf(port), LB_GETITEMHEIGHT, 0, 0)));
        top = placed.bottom;
    }
    EXPECT_EQ(order, "COM3 COM2 COM1 ");
    EXPECT_EQ(Client().bottom, top) << "the leftover pixels are taken off the window";
}

TEST_F(MonitorTest, ALowClientAreaGivesPanesNoHeightNeverANegativeOne) {
    Arrive(L"COM1");
    int edit = EditHeight();
    SetClientSize(300, edit / 2);
    RECT placed = RectInClient(main_, PaneOf(PortList));
    EXPECT_GE(Height(placed), 0);
    EXPECT_LE(Height(placed), 4) << "asked for 0: at most its borders";
    EXPECT_EQ(Client().bottom, edit + Height(placed));
    EXPECT_TRUE(LayoutPanes(main_));
}

TEST_F(MonitorTest, TheLossOfTheOnlyPortHidesTheEditsAndKeepsTheSize) {
    uint32_t key = Arrive(L"COM1");
    RECT before;
    GetWindowRect(main_, &before);
    HWND pane = PaneOf(PortList);
    control::RemovePort(key);

    // The removal comes before the pane's close: when it has run, the pane
    // still exists but no longer names the freed record.
    bool checked = false;
    ASSERT_TRUE(PumpUntil([&] {
        if (!checked && PortCount == 0) {
            checked = true;
            if (IsWindow(pane)) EXPECT_EQ(GetWindowLongPtrA(pane, GWLP_USERDATA), 0);
        }
        return PortCount == 0 && !IsWindow(pane);
    }));
    EXPECT_FALSE(IsWindowVisible(command_));
    EXPECT_FALSE(IsWindowVisible(response_));
    RECT after;
    GetWindowRect(main_, &after);
    EXPECT_EQ(Height(after), Height(before));

    Arrive(L"COM2");
    EXPECT_TRUE(IsWindowVisible(command_));
    EXPECT_TRUE(IsWindowVisible(response_));
}

TEST_F(MonitorTest, ALostPortInTheMiddleLeavesTheOthersInOrder) {
    Arrive(L"COM1");
    uint32_t middle = Arrive(L"COM2");
    Arrive(L"COM3");
    control::RemovePort(middle);
    ASSERT_TRUE(PumpUntil([] { return PortCount == 2; }));
    EXPECT_STREQ(PortList->ComPort, "COM3");
    EXPECT_STREQ(PortList->Next->ComPort, "COM1");
    RECT newest = RectInClient(main_, PaneOf(PortList));
    RECT oldest = RectInClient(main_, PaneOf(PortList->Next));
    EXPECT_EQ(oldest.top, newest.bottom);
}

TEST_F(MonitorTest, DestructionEndsEveryCaptureThreadAndRemovesEveryPort) {
    for (const wchar_t* name : {L"COM1", L"COM2", L"COM3"}) Arrive(name);
    std::vector<HANDLE> threads;
    for (PortMonitor* port = PortList; port; port = port->Next) {
        HANDLE thread = nullptr, copy = nullptr;
        GetPane(*port, nullptr, &thread);
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        threads.push_back(copy);
    }
    // Lines keep coming while the window goes: the capture threads' calls
    // into their panes must be served during the waits.
    for (uint32_t key = 0x00010001; key < 0x00010004; ++key) control::PushBytes(key, 2, "RING\r\n");
    DestroyWindow(main_);
    EXPECT_EQ(PortCount, 0u);
    EXPECT_EQ(PortList, nullptr);
    for (HANDLE thread : threads) {
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    EXPECT_EQ(WaitForSingleObject(WatcherThreadHandle, 0), WAIT_OBJECT_0);
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_DETACH_CAPTURE).size(), 3u);
    EXPECT_EQ(RefreshTimerId, 0u);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

// Any process on the desktop can post the watcher's commands: an arrival
// that is not the watcher's own (none, a record made elsewhere, the
// watcher's own taken already) and a removal that names no live port change
// nothing, and the next port arrives as ever.
TEST_F(MonitorTest, ForgedArrivalsAndRemovalsChangeNothing) {
    testsupport::MessageRecorder commands{WM_COMMAND};
    commands.Attach(main_);
    Arrive(L"COM1");
    commands.Detach();
    // The watcher's arrival alone: the new pane may also tell of its focus.
    std::vector<LPARAM> arrivals;
    for (const auto& command : commands.Messages()) {
        if (LOWORD(command.WParam) == ID_PORT_ARRIVED) arrivals.push_back(command.LParam);
    }
    ASSERT_EQ(arrivals.size(), 1u);
    LPARAM taken = arrivals[0];
    PortPropertyHeader header = PortList->Header;
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    ArrivalMessage forged{&header, semaphore};
    for (LPARAM lParam : {LPARAM{0}, reinterpret_cast<LPARAM>(&forged), taken}) {
        SendMessageA(main_, WM_COMMAND, ID_PORT_ARRIVED, lParam);
        SendMessageA(main_, WM_COMMAND, ID_PORT_REMOVED, lParam);
    }
    PumpFor(50);
    EXPECT_EQ(PortCount, 1u);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "no hand-over answered";
    CloseHandle(semaphore);
    Arrive(L"COM2");
    EXPECT_EQ(PortCount, 2u);
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_GET_PORT_PROPERTIES).size(), 2u) << "one fetch per real port";
}

TEST_F(MonitorTest, AFailedPropertyFetchDropsThePortAndTheWatcherGoesOn) {
    control::InjectFault(IOCTL_LINE_GET_PORT_PROPERTIES, {.FaultKind = control::RequestFault::Kind::FailAtOnce});
    control::AddPort(emu::ModemPort(L"COM1", 1));
    ASSERT_TRUE(PumpUntil([] {
        return control::RequestLog(IOCTL_LINE_GET_PORT_PROPERTIES).size() == 1 &&
               control::PendingRequests(IOCTL_LINE_WAIT_PORT_ARRIVAL) == 1;
    }));
    EXPECT_EQ(PortCount, 0u);
    EXPECT_EQ(GetWindow(response_, GW_HWNDNEXT), nullptr) << "no pane";
    EXPECT_FALSE(IsWindowVisible(command_));
    Arrive(L"COM2");
    EXPECT_STREQ(PortList->ComPort, "COM2");
}

// The best time of five full repaints of a pane.
double BestRepaintMs(HWND pane) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        QueryPerformanceCounter(&start);
        RedrawWindow(pane, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        QueryPerformanceCounter(&end);
        best = std::min(best, 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                                  static_cast<double>(frequency.QuadPart));
    }
    return best;
}

// The main window draws the panes' lines: at the height that the pane's font
// gives, the selected line in the highlight colour, the text itself, and only
// as far as the pane is wide, so that a pane of very long run lines repaints
// about as fast as one of short lines.
TEST_F(MonitorTest, PanesDrawTheirLinesAsFarAsTheyAreWide) {
    SetClientSize(400, 400);
    Arrive(L"COM1");
    Arrive(L"COM2");
    HWND shortLines = PaneOf(PortList);
    HWND longLines = PaneOf(PortList->Next);
    HDC dc = GetDC(shortLines);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, previous);
    EXPECT_EQ(SendMessageA(shortLines, LB_GETITEMHEIGHT, 0, 0), metrics.tmHeight);

    const std::string longLine = "RX: " + std::string(200000, 'W');
    for (int i = 0; i < 40; ++i) {
        SendMessageA(shortLines, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("RX: WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"));
        SendMessageA(longLines, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(longLine.c_str()));
    }
    double shortMs = BestRepaintMs(shortLines);
    double longMs = BestRepaintMs(longLines);
    EXPECT_LE(longMs, 4 * shortMs + 15) << "short lines " << shortMs << " ms, 200000-byte lines " << longMs << " ms";

    SendMessageA(shortLines, LB_SETTOPINDEX, 0, 0);
    SendMessageA(shortLines, LB_SETSEL, TRUE, 1);
    UpdateWindow(shortLines);
    RECT client;
    GetClientRect(shortLines, &client);
    const int row = metrics.tmHeight;
    EXPECT_EQ(GetPixel(dc, client.right - 3, row + row / 2), GetSysColor(COLOR_HIGHLIGHT)) << "line 1 selected";
    EXPECT_EQ(GetPixel(dc, client.right - 3, 2 * row + row / 2), GetSysColor(COLOR_WINDOW)) << "line 2 not";
    int inked = 0;
    for (int x = 0; x < 100; ++x) {
        for (int y = 0; y < row; ++y) inked += GetPixel(dc, x, y) == GetSysColor(COLOR_WINDOWTEXT);
    }
    EXPECT_GT(inked, 20) << "line 0's text is drawn";
    ReleaseDC(shortLines, dc);
}

TEST_F(MonitorTest, EveryMessageEndsInTheDefaultProcedure) {
    // WM_NCHITTEST has no handling of its own: its answer is the default one.
    LRESULT hit = SendMessageA(main_, WM_NCHITTEST, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(hit, DefWindowProcA(main_, WM_NCHITTEST, 0, MAKELPARAM(5, 5)));
    SetLastError(1234);
    SendMessageA(main_, WM_USER + 7, 0, 0);
    EXPECT_EQ(GetLastError(), 0u) << "the procedure clears the last error on entry";
}

}  // namespace
