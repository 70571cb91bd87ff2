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

// A handle of the service manager or of a service, closed when its scope
// ends; the close is traced with the line where the handle was had.
class ServiceHandle {
public:
    ServiceHandle(SC_HANDLE handle, uint32_t line) : handle_(handle), line_(line) {}
    ~ServiceHandle() {
        if (handle_) Trace(seam::CloseServiceHandle(handle_) != FALSE, line_, "CloseServiceHandle");
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;

    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
    uint32_t line_;
};

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
    ServiceHandle service(seam::OpenServiceA(manager, name, SERVICE_ALL_ACCESS), __LINE__);
    if (!service) return;
    Trace(seam::DeleteService(service.Get()) != FALSE, __LINE__, "DeleteService");
}

}  // namespace

DWORD ServicePollLimitMs() { return g_pollLimitMs; }
void SetServicePollLimitMs(DWORD limitMs) { g_pollLimitMs = limitMs; }

namespace {

// The path of a driver file in the program's folder; false when it does not fit.
bool DriverPath(const char* moduleDirectory, const char* file, size_t fileSize, char (&path)[kDriverPathCapacity]) {
    size_t directoryLength = std::strlen(moduleDirectory);
    if (directoryLength + fileSize > kDriverPathCapacity) return false;
    std::memcpy(path, moduleDirectory, directoryLength);
    std::memcpy(path + directoryLength, file, fileSize);
    return true;
}

// The control service, created together with the filter service when it is
// missing (the filter first; one that exists already is fine). Null when it
// can be neither opened nor created.
SC_HANDLE OpenOrCreateServices(SC_HANDLE manager, const char* controlPath, const char* filterPath) {
    SC_HANDLE service = seam::OpenServiceA(manager, kControlServiceName, SERVICE_ALL_ACCESS);
    if (service || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) return service;
    {
        ServiceHandle filter(CreateDriverService(manager, kFilterServiceName, kFilterDisplayName,
                                                 SERVICE_DEMAND_START, filterPath, kFilterLoadOrderGroup),
                             __LINE__);
        Trace(static_cast<bool>(filter), __LINE__, "CreateService");
    }
    return CreateDriverService(manager, kControlServiceName, kControlDisplayName, SERVICE_SYSTEM_START,
                               controlPath, nullptr);
}

// From here this instance stays counted, whatever the start gives.
void CountThisInstance() {
    bool counted = ReleaseSemaphore(InstanceCounter, 1, nullptr) != FALSE;
    Trace(counted, __LINE__, "ReleaseSemaphore");
    if (counted) InstanceCounted = true;
}

// Starts the control driver unless it runs; true when it runs at the end.
bool StartUnlessRunning(SC_HANDLE service) {
    DWORD state = 0;
    if (!PollWhilePending(service, &state)) return false;
    if (state == SERVICE_RUNNING) return true;
    if (state != SERVICE_STOPPED) return false;
    bool started = seam::StartServiceA(service, 0, nullptr) != FALSE;
    Trace(started, __LINE__, "StartService");
    if (started) WaitUntilRunning(service);
    return started;
}

}  // namespace

bool InstallAndStartDrivers(const char* moduleDirectory) {
    // One handle for the life of the process, even if this runs again.
    if (!InstanceCounter) {
        InstanceCounter = CreateSemaphoreA(nullptr, 0, kInstanceCounterMaximum, kInstanceCounterName);
    }
    if (!InstanceCounter) return false;
    char controlPath[kDriverPathCapacity];
    char filterPath[kDriverPathCapacity];
    if (!DriverPath(moduleDirectory, kControlDriverFile, sizeof(kControlDriverFile), controlPath) ||
        !DriverPath(moduleDirectory, kFilterDriverFile, sizeof(kFilterDriverFile), filterPath)) {
        return false;
    }
    ServiceHandle manager(OpenManager(), __LINE__);
    if (!manager) return false;
    ServiceHandle service(OpenOrCreateServices(manager.Get(), controlPath, filterPath), __LINE__);
    if (!service) return false;
    CountThisInstance();
    return StartUnlessRunning(service.Get());
}

void WaitUntilRunning(SC_HANDLE service) { PollUntilState(service, SERVICE_RUNNING); }

void StopDriverIfLastInstance() {
    if (!InstanceCounter || !InstanceCounted) return;
    ServiceHandle manager(OpenManager(), __LINE__);
    if (!manager) return;
    ServiceHandle service(seam::OpenServiceA(manager.Get(), kControlServiceName, SERVICE_ALL_ACCESS), __LINE__);
    if (!service) return;

    // Interrogate first so that the status read next is fresh.
    SERVICE_STATUS status{};
    Trace(seam::ControlService(service.Get(), SERVICE_CONTROL_INTERROGATE, &status) != FALSE, __LINE__,
          "ControlService");
    DWORD state = 0;
    QueryState(service.Get(), &state, __LINE__);

    if (state == SERVICE_RUNNING) {
        // Read the count: raise it by one, learn the count before, and take
        // that one back at once (it cannot block: the count was just raised).
        LONG previous = 0;
        if (ReleaseSemaphore(InstanceCounter, 1, &previous)) {
            WaitForSingleObject(InstanceCounter, INFINITE);
            if (previous == 1) {
                bool accepted =
                    seam::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status) != FALSE;
                Trace(accepted, __LINE__, "ControlService");
                if (accepted) WaitUntilStopped(service.Get());
            }
        }
        // This instance's own count.
        WaitForSingleObject(InstanceCounter, INFINITE);
        InstanceCounted = false;
    }
}

void WaitUntilStopped(SC_HANDLE service) {
    Sleep(1000);
    PollUntilState(service, SERVICE_STOPPED);
}

void DeleteDriverServices() {
    if (!InstanceCounter) return;
    ServiceHandle manager(OpenManager(), __LINE__);
    if (!manager) return;
    DeleteServiceNamed(manager.Get(), kControlServiceName);
    DeleteServiceNamed(manager.Get(), kFilterServiceName);
}

}  // namespace quorvel
