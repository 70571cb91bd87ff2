// The device's side of the test-control interface: faults, the request log,
// and counts of what is pending and open.
#include "emulator/device_core.h"
#include "emulator/device_state.h"

namespace emu {

void control::InjectFault(uint32_t code, const control::RequestFault& fault) {
    DriverGuard guard(DriverLock());
    Device().Faults[code].push_back(fault);
}

void control::ClearFaults() {
    DriverGuard guard(DriverLock());
    Device().Faults.clear();
}

std::vector<control::LoggedRequest> control::RequestLog() {
    DriverGuard guard(DriverLock());
    return std::vector<control::LoggedRequest>(Device().Log.begin(), Device().Log.end());
}

void control::ClearRequestLog() {
    DriverGuard guard(DriverLock());
    Device().Log.clear();
}

size_t control::PendingRequests(uint32_t code) {
    DriverGuard guard(DriverLock());
    size_t count = 0;
    for (const auto& [id, request] : Device().Pending) {
        if (code == 0 || request.Code == code) ++count;
    }
    return count;
}

size_t control::OpenDeviceHandles() {
    DriverGuard guard(DriverLock());
    return Device().Handles.size();
}

void CancelAllRequests() {
    DriverGuard guard(DriverLock());
    CancelPendingWhere([](const PendingRequest&) { return true; });
}

}  // namespace emu
