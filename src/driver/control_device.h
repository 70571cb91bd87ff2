// The control device "\\.\Quorvel" and its device-wide requests: driver
// information and configuration, persistent mode, shutdown notice.
//
// The main thread opens, configures and closes the device, one request
// after another, which is why one auto-reset DeviceEvent serves them all.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quorvel {

// The one overlapped handle of the control device, or INVALID_HANDLE_VALUE
// while it is not open. Written by the main thread (open, close) before the
// port watcher starts and after it has ended; read by the watcher and by
// every port monitor while they run.
extern HANDLE ControlDevice;

// Completion event (auto-reset) of the device-wide requests. Created by
// OpenControlDevice, closed and nulled only when the open fails, otherwise
// kept until the process ends. While it is null the device-wide requests
// do nothing. Main thread only.
extern HANDLE DeviceEvent;

// Opens the device overlapped into device. True when it is open.
bool OpenControlDevice(HANDLE& device);

// Closes the device if it is open and stores the invalid value.
void CloseControlDevice(HANDLE& device);

// Asks the driver for its information, keeps its options as CaptureOptions
// and sends the configuration record with the settings text (or none). A
// reply shorter than 20 bytes sends nothing.
void ConfigureDriver(HANDLE device, const char* settingsText);

// Sends the persistent-mode flag. When restartNeeded is given it is set to
// 1 if the driver asks for a Windows restart (the request fails at once with
// ERROR_MEDIA_CHANGED; a pending request that fails later with it does not
// ask), else 0. True when the request succeeded.
bool SetPersistentMode(HANDLE device, uint8_t persistentFlag, uint8_t* restartNeeded = nullptr);

// Tells the driver that the program ends (0) or is being removed (1).
void NotifyShutdown(HANDLE device, uint8_t value);

}  // namespace quorvel
