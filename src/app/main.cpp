// Entry point of the monitor: the operating-system check, the options, then
// the monitor course with its message loop, or the uninstall course.
#include <windows.h>

#include "app/application.h"
#include "app/options.h"
#include "app/os_check.h"
#include "ui/main_window.h"

namespace quorvel {
namespace {

enum ExitCode : int {
    kExitNormal = 0,
    kExitSystemRefused = 1,
    kExitKeepRefused = 2,
    kExitStartFailed = 3,
};

// Runs until the quit message. A message without a window (a thread message)
// is given the main window, so that it reaches the main window procedure.
void RunMessageLoop(HWND mainWindow) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!message.hwnd) message.hwnd = mainWindow;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int Run(HINSTANCE instance, const char* commandLine, int showCommand) {
    AppInstance = instance;
    WatcherThreadHandle = nullptr;
    if (!CheckOperatingSystem()) return kExitSystemRefused;
    Options options = ParseOptions(commandLine);
    if (options.Uninstall) {
        UninstallApplication(options.PersistentFlag, options.SettingsText);
        return kExitNormal;
    }
    if (OsClass == 3 && options.KeepRequested) {
        MessageBoxA(nullptr, "Error: /k option unappropriate for this system.", "Quorvel",
                    MB_OK | MB_ICONWARNING);
        return kExitKeepRefused;
    }
    HWND mainWindow = nullptr;
    if (!InitializeApplication(showCommand, options.PersistentFlag, options.SettingsText,
                               &mainWindow) ||
        !mainWindow || !WatcherThreadHandle) {
        return kExitStartFailed;
    }
    RunMessageLoop(mainWindow);
    ShutdownApplication();
    return kExitNormal;
}

}  // namespace
}  // namespace quorvel

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    return quorvel::Run(instance, commandLine, showCommand);
}
