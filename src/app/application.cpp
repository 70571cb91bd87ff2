#include "app/application.h"

#include "driver/control_device.h"
#include "driver/driver_services.h"
#include "driver/stop_event.h"
#include "app/main_window_setup.h"
#include "system/scoped_handles.h"
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

// Held for a scope: no other instance installs, starts, opens, closes or
// stops meanwhile.
class AccessGuard {
public:
    AccessGuard() : lock_(AccessLock), held_(lock_) {}

private:
    SemaphoreLock lock_;
    ScopedLock<SemaphoreLock> held_;
};

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

// Gives back this instance's hold on the drivers: the device closed and
// the count taken back, inside AccessLock. A failed start does this too.
void ReleaseDrivers() {
    AccessGuard guard;
    CloseControlDevice(ControlDevice);
    StopDriverIfLastInstance();
}

// The steps that both courses take first: inside AccessLock the drivers are
// installed and started and the device opened; then the driver is configured
// and told of the persistent mode (restartNeeded, when given, says whether it
// asks for a Windows restart). False, with AccessLock closed, when the
// program's folder cannot be read.
bool ReachDriver(uint8_t persistentFlag, const char* settingsText, uint8_t* restartNeeded) {
    ControlDevice = INVALID_HANDLE_VALUE;
    if (!CreateAccessLock()) return false;
    bool haveFolder = false;
    {
        AccessGuard guard;
        haveFolder = ReadModuleDirectory();
        if (haveFolder) {
            InstallAndStartDrivers(g_moduleDirectory);
            OpenControlDevice(ControlDevice);
        }
    }
    if (!haveFolder) {
        CloseAccessLock();
        return false;
    }
    ConfigureDriver(ControlDevice, settingsText);
    SetPersistentMode(ControlDevice, persistentFlag, restartNeeded);
    return true;
}

// A start that failed after the drivers were reached gives everything back.
bool FailStart() {
    if (StopEvent) CloseHandle(StopEvent);
    StopEvent = nullptr;
    ReleaseDrivers();
    CloseAccessLock();
    return false;
}

}  // namespace

bool InitializeApplication(int showCommand, uint8_t persistentFlag, const char* settingsText,
                           HWND* mainWindow) {
    uint8_t restartNeeded = 0;
    if (!ReachDriver(persistentFlag, settingsText, &restartNeeded)) return false;
    if (restartNeeded) {
        ReleaseDrivers();
        MessageBoxA(nullptr, "You must restart Windows to run this application.\n", "Quorvel",
                    MB_OK | MB_ICONERROR);
        CloseAccessLock();
        return false;
    }
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!StopEvent) return FailStart();
    MainWindowParts parts;
    if (!CreateMainWindowParts(AppInstance, &parts) || !ShowAndWatch(parts, showCommand)) {
        DestroyMainWindowParts(AppInstance, parts);
        return FailStart();
    }
    *mainWindow = parts.Window;
    RefreshTimerId = SetTimer(parts.Window, 1, kRefreshTimerMs, nullptr);
    return true;
}

void ShutdownApplication() {
    StopLineIntake();
    CloseHandle(StopEvent);
    StopEvent = nullptr;
    NotifyShutdown(ControlDevice, 0);
    ReleaseDrivers();
    CloseAccessLock();
}

void UninstallApplication(uint8_t persistentFlag, const char* settingsText) {
    if (!ReachDriver(persistentFlag, settingsText, nullptr)) return;
    NotifyShutdown(ControlDevice, 1);
    {
        AccessGuard guard;
        CloseControlDevice(ControlDevice);
        StopDriverIfLastInstance();
        DeleteDriverServices();
    }
    MessageBoxA(nullptr, "The application has been uninstalled.", "Quorvel", MB_OK | MB_ICONINFORMATION);
    CloseAccessLock();
}

}  // namespace quorvel
