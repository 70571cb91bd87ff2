// The tests' control of the stand-in's device: faults, the request log,
// counts of what is pending and open, and timed actions on the driver thread.
#include "emulator/control/test_control.h"

#include "emulator/kernel/device_core.h"
#include "emulator/kernel/device_state.h"
#include "emulator/kernel/driver_clock.h"

namespace emu::control {

void InjectFault(uint32_t code, const RequestFault& fault) { AddRequestFault(code, fault); }

void ClearFaults() {
    DriverGuard guard(DriverLock());
    Device().Faults.clear();
}

std::vector<LoggedRequest> RequestLog() {
    DriverGuard guard(DriverLock());
    return std::vector<LoggedRequest>(Device().Log.begin(), Device().Log.end());
}

std::vector<LoggedRequest> RequestLog(uint32_t code) {
    std::vector<LoggedRequest> selected;
    for (LoggedRequest& entry : RequestLog()) {
        if (entry.Code == code) selected.push_back(std::move(entry));
    }
    return selected;
}

void ClearRequestLog() {
    DriverGuard guard(DriverLock());
    Device().Log.clear();
}

size_t PendingRequests(uint32_t code) {
    DriverGuard guard(DriverLock());
    size_t count = 0;
    for (const auto& [id, request] : Device().Pending) {
        if (code == 0 || request.Code == code) ++count;
    }
    return count;
}

size_t OpenDeviceHandles() {
    DriverGuard guard(DriverLock());
    return Device().Handles.size();
}

void ScheduleAfter(DWORD delayMs, std::function<void()> action) { emu::ScheduleAfter(delayMs, std::move(action)); }

}  // namespace emu::control
