// The test control interface: the parts that are not the driver's own.
#include "emulator/test_control.h"

#include <cstdio>
#include <cstring>

#include "emulator/device_core.h"
#include "emulator/driver_clock.h"
#include "emulator/service_table.h"

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


std::vector<LoggedRequest> RequestLog(uint32_t code) {
    std::vector<LoggedRequest> selected;
    for (LoggedRequest& entry : RequestLog()) {
        if (entry.Code == code) selected.push_back(std::move(entry));
    }
    return selected;
}


void ScheduleAfter(DWORD delayMs, std::function<void()> action) {
    emu::ScheduleAfter(delayMs, std::move(action));
}

std::vector<uint8_t> TextBlob(const std::wstring& text) {
    std::vector<uint8_t> blob;
    for (wchar_t c : text) {
        blob.push_back(static_cast<uint8_t>(c & 0xFF));
        blob.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    blob.push_back(0);
    blob.push_back(0);
    return blob;
}

std::vector<uint8_t> TextListBlob(const std::vector<std::wstring>& texts) {
    std::vector<uint8_t> blob;
    for (const std::wstring& text : texts) {
        std::vector<uint8_t> one = TextBlob(text);
        blob.insert(blob.end(), one.begin(), one.end());
    }
    blob.push_back(0);
    blob.push_back(0);
    return blob;
}

std::vector<uint8_t> NumberBlob(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> GuidBlob(const char* text) {
    unsigned long data1 = 0;
    unsigned int data2 = 0, data3 = 0, b[8] = {};
    std::sscanf(text, "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &data2, &data3, &b[0],
                &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]);
    std::vector<uint8_t> blob = NumberBlob(static_cast<uint32_t>(data1));
    blob.push_back(static_cast<uint8_t>(data2));
    blob.push_back(static_cast<uint8_t>(data2 >> 8));
    blob.push_back(static_cast<uint8_t>(data3));
    blob.push_back(static_cast<uint8_t>(data3 >> 8));
    for (unsigned int byte : b) blob.push_back(static_cast<uint8_t>(byte));
    return blob;
}

}  // namespace emu::control
