// The device's side of the test-control interface: faults, the request log,
// and counts of what is pending and open.
#include "emulator/device_core.h"
#include "emulator/device_state.h"

namespace emu {

void InjectRequestFault(uint32_t code, const control::RequestFault& fault) {
    DriverGuard guard(DriverLock());
    State().Faults[code].push_back(fault);
}

void ClearRequestFaults() {
    DriverGuard guard(DriverLock());
    State().Faults.clear();
}

std::vector<control::LoggedRequest> CopyRequestLog() {
    DriverGuard guard(DriverLock());
    return std::vector<control::LoggedRequest>(State().Log.begin(), State().Log.end());
}

void ClearRequestLogEntries() {
    DriverGuard guard(DriverLock());
    State().Log.clear();
}

size_t CountPendingRequests(uint32_t code) {
    DriverGuard guard(DriverLock());
    size_t count = 0;
    for (const auto& [id, request] : State().Pending) {
        if (code == 0 || request.Code == code) ++count;
    }
    return count;
}

size_t CountOpenHandles() {
    DriverGuard guard(DriverLock());
    return State().Handles.size();
}

void CancelAllRequests() {
    DriverGuard guard(DriverLock());
    CancelPendingWhere([](const PendingRequest&) { return true; });
}

}  // namespace emu
