// The two kernel drivers as services of the service control manager: the
// control driver "Quorvel" (started by the program) and the serial-port
// upper filter "Tolvarik" (only ever created and deleted here), and the
// count of running instances that decides who stops the control driver.
//
// Only the main thread calls these, always inside the cross-process
// AccessLock, so no two instances run them at the same time.
#pragma once

#include <windows.h>

namespace quorvel {

// Handle of the named semaphore "QuorvelAccessCount", whose count is the
// number of running instances that have counted themselves. Created or
// opened by InstallAndStartDrivers and never closed: the object and its
// count go away with the last instance. Null when it could not be had.
// Main thread only.
extern HANDLE InstanceCounter;
// True while this instance holds a count in InstanceCounter: from the count
// in InstallAndStartDrivers to the count taken back by
// StopDriverIfLastInstance. An instance that never counted itself must
// neither stop a driver that other instances use nor take one of their
// counts (nor wait for a count that is not there). Main thread only.
extern bool InstanceCounted;

// How long a service-state polling loop waits for a pending state to settle,
// or for the awaited state to come, before it gives up as a failed status
// query would end it. A stuck service must not freeze the start or the exit.
constexpr DWORD kServicePollLimitMs = 30000;

// The bound in force; tests shorten it so that a stuck service costs them
// little. Main thread only.
DWORD ServicePollLimitMs();
void SetServicePollLimitMs(DWORD limitMs);

// Creates both services if the control service is missing, counts this
// instance and starts the control driver unless it runs. moduleDirectory
// names the folder of the program and the driver files and ends with a
// backslash. True when the control driver runs at the end.
bool InstallAndStartDrivers(const char* moduleDirectory);

// Polls the status of the open service until it runs, a query fails or the
// bound passes.
void WaitUntilRunning(SC_HANDLE service);

// Stops the control driver if no other instance is counted, and takes this
// instance's count back; both only while the control driver runs.
void StopDriverIfLastInstance();

// Waits a second, then polls until the service is stopped, a query fails
// or the bound passes.
void WaitUntilStopped(SC_HANDLE service);

// Deletes both services (the uninstall course).
void DeleteDriverServices();

}  // namespace quorvel
