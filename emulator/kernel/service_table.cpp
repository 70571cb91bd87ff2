#include "emulator/kernel/service_table.h"

#include <cstring>

#include "system/scoped_handles.h"

namespace emu {
namespace {

constexpr uint32_t kTableMagic = 0x51534D31;  // "QSM1"
const char kMappingName[] = "QuorvelEmulatorServiceTable";
const char kMutexName[] = "QuorvelEmulatorServiceTableLock";

// Opened once per process and kept for its life, so that the table stays
// alive while this process runs.
HANDLE g_mutex = nullptr;
ServiceTable* g_table = nullptr;

bool OpenSharedTable() {
    if (g_table) return true;
    quorvel::ScopedHandle mutex(CreateMutexA(nullptr, FALSE, kMutexName));
    if (!mutex) return false;
    quorvel::ScopedHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                     sizeof(ServiceTable), kMappingName));
    if (!mapping) return false;
    void* view = MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ServiceTable));
    if (!view) return false;
    // A new mapping is zero-filled, which is an empty table; the magic only
    // marks that it was seen. Both handles stay open, with the view, for the
    // life of the process.
    mapping.Release();
    g_mutex = mutex.Release();
    g_table = static_cast<ServiceTable*>(view);
    return true;
}

}  // namespace

ServiceTable* LockServiceTable() {
    static LONG opening = 0;
    // Several threads may come here first at the same time; let one open.
    while (InterlockedExchange(&opening, 1) != 0) Sleep(0);
    bool ok = OpenSharedTable();
    InterlockedExchange(&opening, 0);
    if (!ok) return nullptr;
    DWORD wait = WaitForSingleObject(g_mutex, INFINITE);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return nullptr;
    g_table->Magic = kTableMagic;
    return g_table;
}

void UnlockServiceTable() { ReleaseMutex(g_mutex); }

ServiceSlot* FindService(ServiceTable& table, const char* name) {
    if (!name) return nullptr;
    for (ServiceSlot& slot : table.Slots) {
        if (slot.InUse && lstrcmpiA(slot.Name, name) == 0) return &slot;
    }
    return nullptr;
}

void AdvancePendingState(ServiceSlot& slot) {
    bool pending = slot.State == SERVICE_START_PENDING || slot.State == SERVICE_STOP_PENDING ||
                   slot.State == SERVICE_CONTINUE_PENDING || slot.State == SERVICE_PAUSE_PENDING;
    if (!pending || slot.HoldPending) return;
    if (slot.PendingQueriesLeft > 0) {
        --slot.PendingQueriesLeft;
        return;
    }
    switch (slot.State) {
        case SERVICE_START_PENDING:
        case SERVICE_CONTINUE_PENDING: slot.State = SERVICE_RUNNING; break;
        case SERVICE_STOP_PENDING:
            slot.State = SERVICE_STOPPED;
            RemoveIfDeleted(slot);
            break;
        case SERVICE_PAUSE_PENDING: slot.State = SERVICE_PAUSED; break;
    }
}

void RemoveIfDeleted(ServiceSlot& slot) {
    if (slot.MarkedForDeletion && slot.OpenHandles == 0 && slot.State == SERVICE_STOPPED) {
        slot = ServiceSlot{};
    }
}

bool IsServiceRunning(const char* name) {
    bool running = false;
    WithServiceTable([&](ServiceTable& table) {
        ServiceSlot* slot = FindService(table, name);
        running = slot && slot->State == SERVICE_RUNNING;
    });
    return running;
}

}  // namespace emu
