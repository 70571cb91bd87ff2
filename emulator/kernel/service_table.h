// The emulated service manager's database: one table of services shared by
// every process of the Wine prefix (named shared memory guarded by a named
// mutex), so that several instances of the program see the same services.
//
// The table lives as long as some process has it open; a new run of the
// test suite therefore starts from an empty database.
#pragma once

#include <windows.h>

#include <cstdint>

namespace emu {

constexpr uint32_t kServiceSlots = 16;
// A start or stop passes through its pending state for this many queries.
constexpr uint32_t kPendingQueries = 2;

struct ServiceSlot {
    uint8_t InUse;
    uint8_t MarkedForDeletion;   // deleted, but handles are still open
    uint8_t HoldPending;         // fault: a pending state never settles
    uint8_t HasLoadOrderGroup;   // created with a group (none is not an empty one)
    char Name[64];
    char DisplayName[128];
    char BinaryPath[520];
    char LoadOrderGroup[64];
    uint32_t ServiceType;
    uint32_t StartType;
    uint32_t ErrorControl;
    uint32_t State;              // SERVICE_STOPPED ... SERVICE_PAUSED
    uint32_t PendingQueriesLeft; // queries until a pending state settles
    uint32_t OpenHandles;        // service handles open in all processes
    uint32_t OpenFailError;      // fault: every open fails with this error
    uint32_t StartCount;         // how often the service was started
    uint32_t StopCount;          // how often a stop was accepted
};

struct ServiceTable {
    uint32_t Magic;
    uint32_t ManagerOpenFailError;  // fault: opening the manager fails
    ServiceSlot Slots[kServiceSlots];
};

// Runs body with the table locked; body gets the table. Returns false when
// the shared table cannot be had (then body is not run).
template <typename Body>
bool WithServiceTable(Body&& body);

// The locking primitives behind WithServiceTable.
ServiceTable* LockServiceTable();
void UnlockServiceTable();

template <typename Body>
bool WithServiceTable(Body&& body) {
    ServiceTable* table = LockServiceTable();
    if (!table) return false;
    body(*table);
    UnlockServiceTable();
    return true;
}

// Slot of the live service with this name (case-insensitive), or nullptr.
ServiceSlot* FindService(ServiceTable& table, const char* name);

// Moves a pending state on by one query; settles it when its count runs out.
void AdvancePendingState(ServiceSlot& slot);

// A service marked for deletion disappears once it is stopped and its last
// handle is closed, as on Windows.
void RemoveIfDeleted(ServiceSlot& slot);

// True while the named service is in the running state.
bool IsServiceRunning(const char* name);

}  // namespace emu
