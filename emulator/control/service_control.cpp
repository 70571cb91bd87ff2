// The tests' control of the stand-in's service manager: its shared service
// database read and changed as someone else on the system would.
#include "emulator/control/test_control.h"

#include "emulator/kernel/service_table.h"

namespace emu::control {
namespace {

template <typename Change>
void ChangeService(const char* name, Change&& change) {
    WithServiceTable([&](ServiceTable& table) {
        if (ServiceSlot* slot = FindService(table, name)) change(*slot);
    });
}

}  // namespace

void ResetServices() {
    WithServiceTable([](ServiceTable& table) { table = ServiceTable{}; });
}

ServiceInfo GetService(const char* name) {
    ServiceInfo info;
    WithServiceTable([&](ServiceTable& table) {
        ServiceSlot* slot = FindService(table, name);
        if (!slot) return;
        info.Exists = true;
        info.MarkedForDeletion = slot->MarkedForDeletion != 0;
        info.DisplayName = slot->DisplayName;
        info.BinaryPath = slot->BinaryPath;
        if (slot->HasLoadOrderGroup) info.LoadOrderGroup = slot->LoadOrderGroup;
        info.ServiceType = slot->ServiceType;
        info.StartType = slot->StartType;
        info.ErrorControl = slot->ErrorControl;
        info.State = slot->State;
        info.OpenHandles = slot->OpenHandles;
        info.StartCount = slot->StartCount;
        info.StopCount = slot->StopCount;
    });
    return info;
}

void FailServiceOpen(const char* name, DWORD error) {
    ChangeService(name, [&](ServiceSlot& slot) { slot.OpenFailError = error; });
}

void FailManagerOpen(DWORD error) {
    WithServiceTable([&](ServiceTable& table) { table.ManagerOpenFailError = error; });
}

void HoldServicePending(const char* name, bool hold) {
    ChangeService(name, [&](ServiceSlot& slot) { slot.HoldPending = hold ? 1 : 0; });
}

void StopServiceFromOutside(const char* name) {
    ChangeService(name, [](ServiceSlot& slot) {
        slot.State = SERVICE_STOPPED;
        slot.PendingQueriesLeft = 0;
        RemoveIfDeleted(slot);
    });
}

void SetServiceState(const char* name, DWORD state) {
    ChangeService(name, [&](ServiceSlot& slot) {
        slot.State = state;
        slot.PendingQueriesLeft = kPendingQueries;
    });
}


}  // namespace emu::control
