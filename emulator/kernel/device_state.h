// The stand-in device's shared state: its open handles, the requests that
// are pending, the handlers, the faults and the request log. Guarded by the
// driver lock; used by the request life (device_core.cpp) and the
// tests' control interface (control/kernel_control.cpp).
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "emulator/kernel/device_core.h"
#include "emulator/kernel/request_log.h"

namespace emu {

struct PendingRequest {
    uint32_t Id;
    uint32_t Code;
    HANDLE Device;
    DWORD ThreadId;
    OVERLAPPED* Overlapped;
    uint8_t* Output;
    DWORD OutputSize;
    int32_t SizeDelta;  // fault: reported count is off by this much
};

// The most requests the log keeps; older ones are dropped, so that a
// stand-in that runs for days does not grow with its traffic.
constexpr size_t kMaxLoggedRequests = 65536;

struct DeviceState {
    std::map<HANDLE, DWORD> Handles;  // open device handles and their open flags
    std::map<uint32_t, PendingRequest> Pending;
    std::map<uint32_t, RequestHandler> Handlers;
    std::map<uint32_t, std::deque<RequestFault>> Faults;
    std::deque<LoggedRequest> Log;  // in id order
    uint32_t NextId = 1;
};

// With the driver lock held.
DeviceState& Device();

// Completes, as cancelled, every pending request that the condition picks.
// With the driver lock held.
void CancelPendingWhere(const std::function<bool(const PendingRequest&)>& picked);

}  // namespace emu
