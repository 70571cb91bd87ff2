// The stand-in's service control manager: the service half of the seam.
//
// Services live in the shared table (service_table.h). A handle is a small
// object of this process; every handle of a service counts in the shared
// table, so that a deleted service stays, marked for deletion, until its last
// handle anywhere is closed, as on Windows.
//
// It takes only the calls that the program's drivers are installed with: the
// local machine's active database opened with all access, services opened
// and created with all access, created without tag, dependencies, account or
// password. Other access rights fail with ERROR_ACCESS_DENIED, other
// arguments with ERROR_INVALID_PARAMETER, so that a call the program should
// not make does not pass unseen. A service created without a load-order
// group has none, which is not an empty one.
#include <windows.h>

#include <cstring>
#include <set>

#include "system/scoped_handles.h"
#include "emulator/kernel/service_table.h"
#include "system/system_calls.h"

namespace emu {
namespace {

constexpr uint32_t kHandleMagic = 0x53434831;  // "SCH1"

struct ScHandle {
    uint32_t Magic;
    bool IsManager;
    char ServiceName[64];  // the service this handle is open on
};

// Guards LiveHandles; never destroyed: other threads may run at exit.
quorvel::ProcessLock g_handleLock;

std::set<ScHandle*>& LiveHandles() {
    static auto* handles = new std::set<ScHandle*>;
    return *handles;
}

ScHandle* NewHandle(bool isManager, const char* serviceName) {
    auto* handle = new ScHandle{};
    handle->Magic = kHandleMagic;
    handle->IsManager = isManager;
    if (serviceName) lstrcpynA(handle->ServiceName, serviceName, sizeof(handle->ServiceName));
    quorvel::ScopedLock<quorvel::ProcessLock> guard(g_handleLock);
    LiveHandles().insert(handle);
    return handle;
}

ScHandle* FindHandle(SC_HANDLE raw) {
    auto* handle = reinterpret_cast<ScHandle*>(raw);
    quorvel::ScopedLock<quorvel::ProcessLock> guard(g_handleLock);
    return LiveHandles().count(handle) ? handle : nullptr;
}

// Resolves a service handle to its slot; sets the last error and returns
// nullptr when the handle is not a live service handle.
ServiceSlot* ServiceOf(ServiceTable& table, SC_HANDLE raw) {
    ScHandle* handle = FindHandle(raw);
    if (!handle || handle->IsManager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    ServiceSlot* slot = FindService(table, handle->ServiceName);
    if (!slot) SetLastError(ERROR_INVALID_HANDLE);
    return slot;
}

void FillStatus(const ServiceSlot& slot, SERVICE_STATUS* status) {
    if (!status) return;
    *status = SERVICE_STATUS{};
    status->dwServiceType = slot.ServiceType;
    status->dwCurrentState = slot.State;
    status->dwControlsAccepted = slot.State == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status->dwWin32ExitCode = NO_ERROR;
}

bool IsManagerHandle(SC_HANDLE raw) {
    ScHandle* handle = FindHandle(raw);
    return handle && handle->IsManager;
}

void CopyText(char* target, size_t capacity, const char* text) {
    lstrcpynA(target, text ? text : "", static_cast<int>(capacity));
}

// Fails the call with error unless ok; true when it may go on.
bool Accept(bool ok, DWORD error) {
    if (!ok) SetLastError(error);
    return ok;
}

}  // namespace
}  // namespace emu

namespace seam {

using namespace emu;

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess) {
    bool localActive = !machineName && (!databaseName || lstrcmpiA(databaseName, SERVICES_ACTIVE_DATABASEA) == 0);
    if (!Accept(localActive, ERROR_INVALID_PARAMETER) ||
        !Accept(desiredAccess == SC_MANAGER_ALL_ACCESS, ERROR_ACCESS_DENIED)) {
        return nullptr;
    }
    DWORD error = 0;
    if (!WithServiceTable([&](ServiceTable& table) { error = table.ManagerOpenFailError; })) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (error) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(NewHandle(true, nullptr));
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
    if (!IsManagerHandle(manager)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!Accept(desiredAccess == SERVICE_ALL_ACCESS, ERROR_ACCESS_DENIED)) return nullptr;
    DWORD error = ERROR_SERVICE_DOES_NOT_EXIST;
    WithServiceTable([&](ServiceTable& table) {
        ServiceSlot* slot = FindService(table, serviceName);
        if (!slot) return;
        if (slot->OpenFailError) {
            error = slot->OpenFailError;
            return;
        }
        ++slot->OpenHandles;
        error = 0;
    });
    if (error) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(NewHandle(false, serviceName));
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD desiredAccess,
                         DWORD serviceType, DWORD startType, DWORD errorControl,
                         LPCSTR binaryPathName, LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                         LPCSTR serviceStartName, LPCSTR password) {
    if (!IsManagerHandle(manager)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    bool named = serviceName && *serviceName && lstrlenA(serviceName) < 64 && binaryPathName;
    bool plain = !tagId && !dependencies && !serviceStartName && !password;
    if (!Accept(named && plain, ERROR_INVALID_PARAMETER) ||
        !Accept(desiredAccess == SERVICE_ALL_ACCESS, ERROR_ACCESS_DENIED)) {
        return nullptr;
    }
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    WithServiceTable([&](ServiceTable& table) {
        if (ServiceSlot* existing = FindService(table, serviceName)) {
            error = existing->MarkedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                : ERROR_SERVICE_EXISTS;
            return;
        }
        for (ServiceSlot& slot : table.Slots) {
            if (slot.InUse) continue;
            slot = ServiceSlot{};
            slot.InUse = 1;
            CopyText(slot.Name, sizeof(slot.Name), serviceName);
            CopyText(slot.DisplayName, sizeof(slot.DisplayName),
                     displayName ? displayName : serviceName);
            CopyText(slot.BinaryPath, sizeof(slot.BinaryPath), binaryPathName);
            CopyText(slot.LoadOrderGroup, sizeof(slot.LoadOrderGroup), loadOrderGroup);
            slot.HasLoadOrderGroup = loadOrderGroup ? 1 : 0;
            slot.ServiceType = serviceType;
            slot.StartType = startType;
            slot.ErrorControl = errorControl;
            slot.State = SERVICE_STOPPED;
            slot.OpenHandles = 1;
            error = 0;
            return;
        }
    });
    if (error) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(NewHandle(false, serviceName));
}

BOOL StartServiceA(SC_HANDLE service, DWORD, LPCSTR*) {
    DWORD error = 0;
    char binaryPath[520] = {};
    WithServiceTable([&](ServiceTable& table) {
        ServiceSlot* slot = ServiceOf(table, service);
        if (!slot) {
            error = ERROR_INVALID_HANDLE;
            return;
        }
        if (slot->MarkedForDeletion) {
            error = ERROR_SERVICE_MARKED_FOR_DELETE;
            return;
        }
        if (slot->State != SERVICE_STOPPED) {
            error = ERROR_SERVICE_ALREADY_RUNNING;
            return;
        }
        lstrcpynA(binaryPath, slot->BinaryPath, sizeof(binaryPath));
    });
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    // The driver file must exist, as for a real kernel driver.
    DWORD attributes = GetFileAttributesA(binaryPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    WithServiceTable([&](ServiceTable& table) {
        ServiceSlot* slot = ServiceOf(table, service);
        if (!slot) {
            error = ERROR_INVALID_HANDLE;
            return;
        }
        if (slot->State != SERVICE_STOPPED) {
            error = ERROR_SERVICE_ALREADY_RUNNING;
            return;
        }
        slot->State = SERVICE_START_PENDING;
        slot->PendingQueriesLeft = kPendingQueries;
        ++slot->StartCount;
    });
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool ok = false;
    WithServiceTable([&](ServiceTable& table) {
        ServiceSlot* slot = ServiceOf(table, service);
        if (!slot) return;
        AdvancePendingState(*slot);
        FillStatus(*slot, status);
        ok = true;
    });
    return ok ? TRUE : FALSE;
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    DWORD error = ERROR_INVALID_HANDLE;
    WithServiceTable([&](ServiceTable& table) {
        ServiceSlot* slot = ServiceOf(table, service);
        if (!slot) return;
        error = 0;
        switch (control) {
            case SERVICE_CONTROL_INTERROGATE:
                if (slot->State == SERVICE_STOPPED) error = ERROR_SERVICE_NOT_ACTIVE;
                break;
            case SERVICE_CONTROL_STOP:
                if (slot->State == SERVICE_STOPPED) {
                    error = ERROR_SERVICE_NOT_ACTIVE;
                } else if (slot->State != SERVICE_RUNNING) {
                    error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
                } else {
                    slot->State = SERVICE_STOP_PENDING;
                    slot->PendingQueriesLeft = kPendingQueries;
                    ++slot->StopCount;
                }
                break;
            default:
                error = ERROR_INVALID_SERVICE_CONTROL;
                break;
        }
        FillStatus(*slot, status);
    });
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service) {
    DWORD error = ERROR_INVALID_HANDLE;
    WithServiceTable([&](ServiceTable& table) {
        ServiceSlot* slot = ServiceOf(table, service);
        if (!slot) return;
        if (slot->MarkedForDeletion) {
            error = ERROR_SERVICE_MARKED_FOR_DELETE;
            return;
        }
        slot->MarkedForDeletion = 1;
        error = 0;
    });
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE raw) {
    ScHandle* handle = FindHandle(raw);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        quorvel::ScopedLock<quorvel::ProcessLock> guard(g_handleLock);
        LiveHandles().erase(handle);
    }
    if (!handle->IsManager) {
        WithServiceTable([&](ServiceTable& table) {
            ServiceSlot* slot = FindService(table, handle->ServiceName);
            if (!slot) return;
            if (slot->OpenHandles > 0) --slot->OpenHandles;
            RemoveIfDeleted(*slot);
        });
    }
    delete handle;
    return TRUE;
}

}  // namespace seam
