#include "app/main_window_setup.h"

#include "driver/port_watcher.h"
#include "system/scoped_handles.h"
#include "ui/capture_pane_window.h"
#include "ui/line_intake.h"
#include "ui/main_window.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

constexpr DWORD kCommandEditStyle =
    WS_CHILD | WS_DISABLED | WS_BORDER | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL;
constexpr DWORD kResponseEditStyle = WS_CHILD | WS_DISABLED | WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;

// The edits' height: the stock GUI font's height times 5/3, or 20 when the
// font cannot be measured, plus the two edges.
int EditHeight(HWND mainWindow) {
    int height = 20;
    ScopedWindowDC context(mainWindow);
    TEXTMETRICA metrics;
    if (context.Select(GetStockObject(DEFAULT_GUI_FONT)) && GetTextMetricsA(context.Get(), &metrics)) {
        height = metrics.tmHeight * 5 / 3;
    }
    return height + 2 * GetSystemMetrics(SM_CYEDGE);
}

HWND CreateTerminalEdit(HINSTANCE instance, HWND mainWindow, UINT id, DWORD style, int height) {
    HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", style, 0, 0, 10, height, mainWindow,
                                reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), instance, nullptr);
    return edit && IsWindow(edit) ? edit : nullptr;
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassA(&windowClass) != 0;
}

}  // namespace

bool CreateMainWindowParts(HINSTANCE instance, MainWindowParts* parts) {
    parts->ClassRegistered = RegisterMainWindowClass(instance);
    if (!parts->ClassRegistered) return false;
    HWND window = CreateWindowExA(0, kMainWindowClass, "Quorvel", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                  nullptr, instance, nullptr);
    if (!window || !IsWindow(window)) return false;
    parts->Window = window;
    int height = EditHeight(window);
    parts->Command = CreateTerminalEdit(instance, window, IDC_COMMAND_EDIT, kCommandEditStyle, height);
    if (!parts->Command) return false;
    parts->Response = CreateTerminalEdit(instance, window, IDC_RESPONSE_EDIT, kResponseEditStyle, height);
    if (!parts->Response) return false;
    // The capture threads' calls and lines reach the panes through these.
    UseWindowCapturePane();
    parts->IntakeStarted = StartLineIntake();
    return parts->IntakeStarted;
}

bool ShowAndWatch(const MainWindowParts& parts, int showCommand) {
    ScopedHandle started(CreateSemaphoreA(nullptr, 0, 1, nullptr));
    if (!started) return false;
    ShowWindow(parts.Window, showCommand);
    UpdateWindow(parts.Window);
    WatcherStartBlock block{parts.Window, WM_COMMAND, MAKEWPARAM(ID_PORT_ARRIVED, 0), GetCurrentThreadId(),
                            started.Get()};
    DWORD threadId = 0;
    WatcherThreadHandle = CreateThread(nullptr, 0, PortWatcherThread, &block, 0, &threadId);
    if (!WatcherThreadHandle || !threadId) return false;
    // The watcher releases the semaphore once it has copied the block.
    WaitForSingleObject(started.Get(), INFINITE);
    return true;
}

void DestroyMainWindowParts(HINSTANCE instance, MainWindowParts& parts) {
    if (parts.IntakeStarted) StopLineIntake();
    if (parts.Response) DestroyWindow(parts.Response);
    if (parts.Command) DestroyWindow(parts.Command);
    if (parts.Window) DestroyWindow(parts.Window);
    if (parts.ClassRegistered) UnregisterClassA(kMainWindowClass, instance);
    parts = MainWindowParts{};
}

}  // namespace quorvel
