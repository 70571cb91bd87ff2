#include "support/monitor_fixture.h"

#include "app/application.h"
#include "wire/request_codes.h"
#include "emulator/lines/port_catalog.h"
#include "port/port_list.h"
#include "support/instance_count.h"
#include "support/message_pump.h"
#include "ui/main_window.h"
#include "ui/window_commands.h"

namespace testsupport {

using namespace quorvel;
namespace control = emu::control;

RECT RectInClient(HWND mainWindow, HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ResetStandIn() {
    control::ResetServices();
    control::ResetDriver();
}

bool StartMonitorInProcess(HWND* main) {
    AppInstance = GetModuleHandleA(nullptr);
    return InitializeApplication(SW_SHOWNORMAL, 0, nullptr, main);
}

void StopMonitorInProcess(HWND main) {
    if (IsWindow(main)) DestroyWindow(main);
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    // Stopped from outside, the driver needs no stop at exit: it spares each
    // test the second that a stop waits.
    control::StopServiceFromOutside("Quorvel");
    ShutdownApplication();
    CloseHandle(WatcherThreadHandle);
    WatcherThreadHandle = nullptr;
    UnregisterClassA(kMainWindowClass, AppInstance);
    ResetInstanceCount();
    ResetStandIn();
}

void MonitorTest::SetUp() {
    ResetStandIn();
    // Without a configuration the stand-in runs no scenario: the ports are
    // the test's alone.
    control::InjectFault(IOCTL_LINE_SET_CONFIG, {.Times = 0});
    ASSERT_TRUE(StartMonitorInProcess(&main_));
    command_ = GetWindow(main_, GW_CHILD);
    response_ = GetWindow(command_, GW_HWNDNEXT);
}

void MonitorTest::TearDown() { StopMonitorInProcess(main_); }

uint32_t MonitorTest::Arrive(const wchar_t* comName) {
    return Arrive(emu::ModemPort(comName, PortCount + 1));
}

uint32_t MonitorTest::Arrive(const control::PortBlobs& port) {
    uint32_t expected = PortCount + 1;
    uint32_t key = control::AddPort(port);
    EXPECT_TRUE(PumpUntil([&] { return PortCount == expected; })) << "arrival of " << key;
    // A port that vanishes before its capture is attached keeps an empty
    // pane; the tests that remove ports remove them after the attach.
    EXPECT_TRUE(PumpUntil([&] { return control::IsCaptureAttached(key); }));
    return key;
}

void MonitorTest::SetClientSize(int width, int height) {
    RECT window, client;
    GetWindowRect(main_, &window);
    GetClientRect(main_, &client);
    SetWindowPos(main_, nullptr, 0, 0, width + Width(window) - client.right,
                 height + Height(window) - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
}

RECT MonitorTest::Client() {
    RECT client;
    GetClientRect(main_, &client);
    return client;
}

HWND MonitorTest::PaneOf(const PortMonitor* port) {
    HWND pane = nullptr;
    GetPane(*port, &pane, nullptr);
    return pane;
}

PortMonitor* MonitorTest::PortOf(uint32_t key) {
    for (PortMonitor* port = PortList; port; port = port->Next) {
        if (port->Header.PortKey == key) return port;
    }
    return nullptr;
}

int MonitorTest::EditHeight() { return Height(RectInClient(main_, command_)); }

}  // namespace testsupport
