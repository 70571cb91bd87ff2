#include "driver/driver_services.h"

#include <cstring>

#include "driver/trace_api_result.h"
#include "system/system_calls.h"

namespace quorvel {

HANDLE InstanceCounter = nullptr;
bool InstanceCounted = false;

namespace {

const char kInstanceCounterName[] = "QuorvelAccessCount";
constexpr LONG kInstanceCounterMaximum = 0x7FFFFFFF;

const char kControlServiceName[] = "Quorvel";
const char kControlDisplayName[] = "Quorvel";
const char kControlDriverFile[] = "quorvel.sys";
const char kFilterServiceName[] = "Tolvarik";
const char kFilterDisplayName[] = "Quorvel Upper Filter Driver";
const char kFilterDriverFile[] = "tolvarik.sys";
const char kFilterLoadOrderGroup[] = "PNP Filter";

constexpr size_t kDriverPathCapacity = 500;  // characters, terminator included

DWORD g_pollLimitMs = kServicePollLimitMs;

void Trace(bool success, uint32_t line, const char* callName) {
    TraceApiResult(success ? 1 : 0, kServiceAccessSource, line, callName, 0);
}

void CloseTraced(SC_HANDLE handle, uint32_t line) {
    Trace(seam::CloseServiceHandle(handle) != FALSE, line, "CloseServiceHandle");
}

// The local machine's active service database (a null name selects it).
SC_HANDLE OpenManager() {
    return seam::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

// Queries the service's status (traced). False when the query failed.
bool QueryState(SC_HANDLE service, DWORD* state, uint32_t line) {
    SERVICE_STATUS status{};
    bool ok = seam::QueryServiceStatus(service, &status) != FALSE;
    Trace(ok, line, "QueryServiceStatus");
    *state = ok ? status.dwCurrentState : 0;
    return ok;
}

bool IsPendingState(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
           state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

// The bound of one polling loop, counted from its first query.
class PollBound {
public:
    PollBound() : startTick_(GetTickCount()) {}
    bool Passed() const { return GetTickCount() - startTick_ >= g_pollLimitMs; }

private:
    DWORD startTick_;
};

// Polls until the service is in neither of the pending states. False when a
// query failed or the bound passed; state then holds nothing to go by.
bool PollWhilePending(SC_HANDLE service, DWORD* state) {
    PollBound bound;
    bool ok = QueryState(service, state, __LINE__);
    while (ok && IsPendingState(*state)) {
        if (bound.Passed()) return false;
        Sleep(0);
        ok = QueryState(service, state, __LINE__);
    }
    return ok;
}

// Polls until the service reaches the awaited state, a query fails or the
// bound passes.
void PollUntilState(SC_HANDLE service, DWORD awaited) {
    PollBound bound;
    DWORD state = 0;
    while (QueryState(service, &state, __LINE__) && state != awaited && !bound.Passed()) {
        Sleep(0);
    }
}

SC_HANDLE CreateDriverService(SC_HANDLE manager, const char* name, const char* displayName,
                              DWORD startType, const char* path, const char* loadOrderGroup) {
    return seam::CreateServiceA(manager, name, displayName, SERVICE_ALL_ACCESS,
                                SERVICE_KERNEL_DRIVER, startType, SERVICE_ERROR_NORMAL, path,
                                loadOrderGroup, nullptr, nullptr, nullptr, nullptr);
}

// Deletes the named service if it can be opened.
void DeleteServiceNamed(SC_HANDLE manager, const char* name) {
    SC_HANDLE service = seam::OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) return;
    Trace(seam::DeleteService(service) != FALSE, __LINE__, "DeleteService");
    CloseTraced(service, __LINE__);
}

}  // namespace

DWORD ServicePollLimitMs() { return g_pollLimitMs; }
void SetServicePollLimitMs(DWORD limitMs) { g_pollLimitMs = limitMs; }

bool InstallAndStartDrivers(const char* moduleDirectory) {
    // One handle for the life of the process, even if this runs again.
    if (!InstanceCounter) {
        InstanceCounter =
            CreateSemaphoreA(nullptr, 0, kInstanceCounterMaximum, kInstanceCounterName);
    }
    if (!InstanceCounter) return false;

    size_t directoryLength = std::strlen(moduleDirectory);
    if (directoryLength + sizeof(kFilterDriverFile) > kDriverPathCapacity ||
        directoryLength + sizeof(kControlDriverFile) > kDriverPathCapacity) {
        return false;
    }
    char path[kDriverPathCapacity];
    std::memcpy(path, moduleDirectory, directoryLength);
    std::memcpy(path + directoryLength, kControlDriverFile, sizeof(kControlDriverFile));

    SC_HANDLE manager = OpenManager();
    if (!manager) return false;

    SC_HANDLE service = seam::OpenServiceA(manager, kControlServiceName, SERVICE_ALL_ACCESS);
    DWORD openError = GetLastError();
    if (!service) {
        if (openError != ERROR_SERVICE_DOES_NOT_EXIST) {
            CloseTraced(manager, __LINE__);
            return false;
        }
        // The filter first; one that exists already is fine.
        char filterPath[kDriverPathCapacity];
        std::memcpy(filterPath, moduleDirectory, directoryLength);
        std::memcpy(filterPath + directoryLength, kFilterDriverFile, sizeof(kFilterDriverFile));
        SC_HANDLE filter = CreateDriverService(manager, kFilterServiceName, kFilterDisplayName,
                                               SERVICE_DEMAND_START, filterPath,
                                               kFilterLoadOrderGroup);
        Trace(filter != nullptr, __LINE__, "CreateService");
        if (filter) CloseTraced(filter, __LINE__);

        service = CreateDriverService(manager, kControlServiceName, kControlDisplayName,
                                      SERVICE_SYSTEM_START, path, nullptr);
        if (!service) {
            CloseTraced(manager, __LINE__);
            return false;
        }
    }

    // From here this instance stays counted, whatever the start gives.
    bool counted = ReleaseSemaphore(InstanceCounter, 1, nullptr) != FALSE;
    Trace(counted, __LINE__, "ReleaseSemaphore");
    if (counted) InstanceCounted = true;

    bool running = false;
    DWORD state = 0;
    if (PollWhilePending(service, &state)) {
        if (state == SERVICE_STOPPED) {
            bool started = seam::StartServiceA(service, 0, nullptr) != FALSE;
            Trace(started, __LINE__, "StartService");
            if (started) {
                WaitUntilRunning(service);
                running = true;
            }
        } else if (state == SERVICE_RUNNING) {
            running = true;
        }
    }

    CloseTraced(service, __LINE__);
    CloseTraced(manager, __LINE__);
    return running;
}

void WaitUntilRunning(SC_HANDLE service) { PollUntilState(service, SERVICE_RUNNING); }

void StopDriverIfLastInstance() {
    if (!InstanceCounter || !InstanceCounted) return;
    SC_HANDLE manager = OpenManager();
    if (!manager) return;
    SC_HANDLE service = seam::OpenServiceA(manager, kControlServiceName, SERVICE_ALL_ACCESS);
    if (!service) {
        CloseTraced(manager, __LINE__);
        return;
    }

    // Interrogate first so that the status read next is fresh.
    SERVICE_STATUS status{};
    Trace(seam::ControlService(service, SERVICE_CONTROL_INTERROGATE, &status) != FALSE, __LINE__,
          "ControlService");
    DWORD state = 0;
    QueryState(service, &state, __LINE__);

    if (state == SERVICE_RUNNING) {
        // Read the count: raise it by one, learn the count before, and take
        // that one back at once (it cannot block: the count was just raised).
        LONG previous = 0;
        if (ReleaseSemaphore(InstanceCounter, 1, &previous)) {
            WaitForSingleObject(InstanceCounter, INFINITE);
            if (previous == 1) {
                bool accepted =
                    seam::ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
                Trace(accepted, __LINE__, "ControlService");
                if (accepted) WaitUntilStopped(service);
            }
        }
        // This instance's own count.
        WaitForSingleObject(InstanceCounter, INFINITE);
        InstanceCounted = false;
    }

    CloseTraced(service, __LINE__);
    CloseTraced(manager, __LINE__);
}

void WaitUntilStopped(SC_HANDLE service) {
    Sleep(1000);
    PollUntilState(service, SERVICE_STOPPED);
}

void DeleteDriverServices() {
    if (!InstanceCounter) return;
    SC_HANDLE manager = OpenManager();
    if (!manager) return;
    DeleteServiceNamed(manager, kControlServiceName);
    DeleteServiceNamed(manager, kFilterServiceName);
    CloseTraced(manager, __LINE__);
}

}  // namespace quorvel
