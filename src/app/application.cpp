#include "app/application.h"

#include "driver/control_device.h"
#include "driver/driver_services.h"
#include "driver/port_watcher.h"
#include "driver/stop_event.h"
#include "ui/window_commands.h"
#include "ui/capture_pane_window.h"
#include "ui/line_intake.h"
#include "ui/main_window.h"

namespace quorvel {

HINSTANCE AppInstance = nullptr;
HANDLE AccessLock = nullptr;

namespace {

constexpr DWORD kModuleDirectoryCapacity = 500;
constexpr UINT kRefreshTimerMs = 100;

char g_moduleDirectory[kModuleDirectoryCapacity];

bool CreateAccessLock() {
    AccessLock = CreateSemaphoreA(nullptr, 1, 1, "QuorvelAccessMutex");
    return AccessLock != nullptr;
}

void TakeAccessLock() { WaitForSingleObject(AccessLock, INFINITE); }
void GiveAccessLock() { ReleaseSemaphore(AccessLock, 1, nullptr); }

void CloseAccessLock() {
    CloseHandle(AccessLock);
    AccessLock = nullptr;
}

// The program's folder, with its trailing backslash, into g_moduleDirectory.
bool ReadModuleDirectory() {
    DWORD length = GetModuleFileNameA(nullptr, g_moduleDirectory, kModuleDirectoryCapacity);
    if (length == 0 || length >= kModuleDirectoryCapacity) return false;
    for (DWORD i = length; i > 0; --i) {
        if (g_moduleDirectory[i - 1] == '\\') {
            g_moduleDirectory[i] = 0;
            break;
        }
    }
    return true;
}

// The edits' height: the stock GUI font's height times 5/3, or 20 when the
// font cannot be measured, plus the two edges.
int EditHeight(HWND mainWindow) {
    int height = 20;
    HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
    if (HDC context = GetDC(mainWindow)) {
        if (HGDIOBJ previous = SelectObject(context, font)) {
            TEXTMETRICA metrics;
            if (GetTextMetricsA(context, &metrics)) height = metrics.tmHeight * 5 / 3;
            SelectObject(context, previous);
        }
        ReleaseDC(mainWindow, context);
    }
    return height + 2 * GetSystemMetrics(SM_CYEDGE);
}

HWND CreateTerminalEdit(HWND mainWindow, UINT id, DWORD style, int height) {
    HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", style, 0, 0, 10, height, mainWindow,
                                reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), AppInstance,
                                nullptr);
    return edit && IsWindow(edit) ? edit : nullptr;
}

// Gives back this instance's hold on the drivers after a failed start: the
// device closed and the count taken back, as the restart course does.
void ReleaseDrivers() {
    TakeAccessLock();
    CloseControlDevice(ControlDevice);
    StopDriverIfLastInstance();
    GiveAccessLock();
}

}  // namespace

bool InitializeApplication(int showCommand, uint8_t persistentFlag, const char* settingsText,
                           HWND* mainWindow) {
    ControlDevice = INVALID_HANDLE_VALUE;
    if (!CreateAccessLock()) return false;
    TakeAccessLock();
    if (!ReadModuleDirectory()) {
        GiveAccessLock();
        CloseAccessLock();
        return false;
    }
    InstallAndStartDrivers(g_moduleDirectory);
    OpenControlDevice(ControlDevice);
    GiveAccessLock();

    ConfigureDriver(ControlDevice, settingsText);
    uint8_t restartNeeded = 0;
    SetPersistentMode(ControlDevice, persistentFlag, &restartNeeded);
    if (restartNeeded) {
        ReleaseDrivers();
        MessageBoxA(nullptr, "You must restart Windows to run this application.\n", "Quorvel",
                    MB_OK | MB_ICONERROR);
        CloseAccessLock();
        return false;
    }

    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!StopEvent) {
        ReleaseDrivers();
        CloseAccessLock();
        return false;
    }
    HANDLE started = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    bool classRegistered = false;
    HWND window = nullptr, command = nullptr, response = nullptr;
    bool ok = started != nullptr;
    if (ok) {
        WNDCLASSA windowClass = {};
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = AppInstance;
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kMainWindowClass;
        classRegistered = RegisterClassA(&windowClass) != 0;
        ok = classRegistered;
    }
    if (ok) {
        window = CreateWindowExA(0, kMainWindowClass, "Quorvel", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                 nullptr, AppInstance, nullptr);
        ok = window && IsWindow(window);
    }
    if (ok) {
        int height = EditHeight(window);
        command = CreateTerminalEdit(window, IDC_COMMAND_EDIT,
                                     WS_CHILD | WS_DISABLED | WS_BORDER | WS_TABSTOP | ES_MULTILINE |
                                         ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                     height);
        response = command ? CreateTerminalEdit(window, IDC_RESPONSE_EDIT,
                                                WS_CHILD | WS_DISABLED | WS_BORDER | WS_TABSTOP |
                                                    ES_READONLY | ES_AUTOHSCROLL,
                                                height)
                           : nullptr;
        // The capture threads' lines reach the panes through the intake.
        UseWindowCapturePane();
        ok = command && response && StartLineIntake();
    }
    if (ok) {
        ShowWindow(window, showCommand);
        UpdateWindow(window);
        WatcherStartBlock block{window, WM_COMMAND, MAKEWPARAM(ID_PORT_ARRIVED, 0), GetCurrentThreadId(),
                                started};
        DWORD threadId = 0;
        WatcherThreadHandle = CreateThread(nullptr, 0, PortWatcherThread, &block, 0, &threadId);
        ok = WatcherThreadHandle && threadId;
        // The watcher releases the semaphore once it has copied the block.
        if (ok) WaitForSingleObject(started, INFINITE);
    }
    if (ok) {
        CloseHandle(started);
        *mainWindow = window;
        RefreshTimerId = SetTimer(window, 1, kRefreshTimerMs, nullptr);
        return true;
    }

    // Undo, newest first.
    StopLineIntake();
    if (response) DestroyWindow(response);
    if (command) DestroyWindow(command);
    if (window) DestroyWindow(window);
    if (classRegistered) UnregisterClassA(kMainWindowClass, AppInstance);
    if (started) CloseHandle(started);
    CloseHandle(StopEvent);
    StopEvent = nullptr;
    ReleaseDrivers();
    CloseAccessLock();
    return false;
}

void ShutdownApplication() {
    StopLineIntake();
    CloseHandle(StopEvent);
    StopEvent = nullptr;
    NotifyShutdown(ControlDevice, 0);
    TakeAccessLock();
    CloseControlDevice(ControlDevice);
    StopDriverIfLastInstance();
    GiveAccessLock();
    CloseAccessLock();
}

void UninstallApplication(uint8_t persistentFlag, const char* settingsText) {
    ControlDevice = INVALID_HANDLE_VALUE;
    if (!CreateAccessLock()) return;
    TakeAccessLock();
    if (!ReadModuleDirectory()) {
        GiveAccessLock();
        CloseAccessLock();
        return;
    }
    InstallAndStartDrivers(g_moduleDirectory);
    OpenControlDevice(ControlDevice);
    GiveAccessLock();
    ConfigureDriver(ControlDevice, settingsText);
    SetPersistentMode(ControlDevice, persistentFlag);
    NotifyShutdown(ControlDevice, 1);
    TakeAccessLock();
    CloseControlDevice(ControlDevice);
    StopDriverIfLastInstance();
    DeleteDriverServices();
    GiveAccessLock();
    MessageBoxA(nullptr, "The application has been uninstalled.", "Quorvel",
                MB_OK | MB_ICONINFORMATION);
    CloseAccessLock();
}

}  // namespace quorvel
