// The program's two courses around the message loop: the monitor course
// (InitializeApplication, then ShutdownApplication after the loop) and the
// uninstall course (UninstallApplication). Main thread only.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quorvel {

extern HINSTANCE AppInstance;
// The named semaphore "QuorvelAccessMutex", a lock shared by every running
// instance around installing, starting, opening, closing and stopping.
extern HANDLE AccessLock;

// Builds everything the monitor needs and shows the main window. True with
// the main window in *mainWindow on success.
bool InitializeApplication(int showCommand, uint8_t persistentFlag, const char* settingsText,
                           HWND* mainWindow);

// After the message loop: tells the driver, closes the device and stops the
// control driver unless another instance uses it.
void ShutdownApplication();

// The whole uninstall course: tells the driver it is being removed, stops it
// unless another instance uses it, deletes both driver services.
void UninstallApplication(uint8_t persistentFlag, const char* settingsText);

}  // namespace quorvel
