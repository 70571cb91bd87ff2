#include "emulator/device_core.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

#include "emulator/control_driver.h"
#include "emulator/driver_clock.h"
#include "emulator/status_codes.h"

namespace emu {
namespace {

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

struct DeviceState {
    std::map<HANDLE, DWORD> Handles;  // open device handles and their open flags
    std::map<uint32_t, PendingRequest> Pending;
    std::map<uint32_t, RequestHandler> Handlers;
    std::map<uint32_t, std::deque<control::RequestFault>> Faults;
    std::vector<control::LoggedRequest> Log;
    uint32_t NextId = 1;
};

DeviceState& State() {
    static auto* state = new DeviceState;  // never destroyed: the driver thread may run at exit
    return *state;
}

control::LoggedRequest* FindLogEntry(uint32_t id) {
    auto& log = State().Log;
    // Entries are appended in id order; a cleared log may have lost the entry.
    auto it = std::lower_bound(log.begin(), log.end(), id,
                               [](const control::LoggedRequest& e, uint32_t v) { return e.Sequence < v; });
    return it != log.end() && it->Sequence == id ? &*it : nullptr;
}

// The event that a completion signals: the OVERLAPPED's event, or the device
// handle itself when none is given (as the system does). The low bit of
// hEvent only tells the system not to queue a completion packet.
HANDLE CompletionEvent(HANDLE device, const OVERLAPPED* overlapped) {
    HANDLE event = overlapped->hEvent;
    if (!event) return device;
    return reinterpret_cast<HANDLE>(reinterpret_cast<UINT_PTR>(event) & ~static_cast<UINT_PTR>(1));
}

// Copies a successful reply into the caller's buffer; returns the count to
// report: the bytes copied, or written for a reply without output. A size
// fault reports a count off by its delta; a longer count is never written
// beyond the caller's buffer.
DWORD DeliverOutput(const std::vector<uint8_t>& output, DWORD written, uint8_t* buffer,
                    DWORD bufferSize, int32_t sizeDelta) {
    DWORD copied = std::min<DWORD>(static_cast<DWORD>(output.size()), bufferSize);
    if (copied && buffer) std::memcpy(buffer, output.data(), copied);
    int64_t reported = static_cast<int64_t>(output.empty() ? written : copied) + sizeDelta;
    if (reported < 0) reported = 0;
    if (sizeDelta > 0 && buffer) {
        DWORD extra = std::min<DWORD>(static_cast<DWORD>(reported), bufferSize);
        for (DWORD i = copied; i < extra; ++i) buffer[i] = 0xEE;
    }
    return static_cast<DWORD>(reported);
}

void FinishOverlapped(HANDLE device, OVERLAPPED* overlapped, NtStatus status, DWORD bytes) {
    if (!overlapped) return;
    overlapped->InternalHigh = bytes;
    MemoryBarrier();
    overlapped->Internal = status;
    SetEvent(CompletionEvent(device, overlapped));
}

bool TakeFault(uint32_t code, control::RequestFault* fault) {
    auto found = State().Faults.find(code);
    if (found == State().Faults.end() || found->second.empty()) return false;
    *fault = found->second.front();
    if (fault->Times != 0 && --found->second.front().Times == 0) found->second.pop_front();
    return true;
}

}  // namespace

Lock& DriverLock() {
    static auto* lock = new Lock;  // never destroyed: the driver thread may run at exit
    return *lock;
}

void SetRequestHandler(uint32_t code, RequestHandler handler) {
    ScopedLock guard(DriverLock());
    State().Handlers[code] = handler;
}

bool IsRequestPending(uint32_t id) {
    ScopedLock guard(DriverLock());
    return State().Pending.count(id) != 0;
}

bool CompleteRequest(uint32_t id, DWORD error, const std::vector<uint8_t>& output, DWORD written) {
    ScopedLock guard(DriverLock());
    auto found = State().Pending.find(id);
    if (found == State().Pending.end()) return false;
    PendingRequest request = found->second;
    State().Pending.erase(found);
    DWORD bytes = error == ERROR_SUCCESS
                      ? DeliverOutput(output, written, request.Output, request.OutputSize,
                                      request.SizeDelta)
                      : 0;
    if (control::LoggedRequest* entry = FindLogEntry(id)) {
        entry->Result = control::LoggedRequest::Outcome::CompletedLater;
        entry->Error = error;
        entry->BytesReturned = bytes;
    }
    FinishOverlapped(request.Device, request.Overlapped, StatusFromError(error), bytes);
    return true;
}

HANDLE OpenDevice(DWORD flagsAndAttributes) {
    EnsureControlDriver();
    // A real, unnamed event stands for the device handle: its value can never
    // collide with another handle of the process, and a request without an
    // event of its own signals it on completion, as a file handle would be.
    HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!handle) return INVALID_HANDLE_VALUE;
    ScopedLock guard(DriverLock());
    State().Handles[handle] = flagsAndAttributes;
    return handle;
}

bool IsDeviceHandle(HANDLE handle) {
    ScopedLock guard(DriverLock());
    return State().Handles.count(handle) != 0;
}

BOOL IssueRequest(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output,
                  DWORD outputSize, DWORD* bytesReturned, OVERLAPPED* overlapped) {
    ScopedLock guard(DriverLock());
    DeviceState& state = State();
    if (!state.Handles.count(device)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    uint32_t id = state.NextId++;
    std::vector<uint8_t> inputBytes;
    if (input && inputSize) {
        const auto* bytes = static_cast<const uint8_t*>(input);
        inputBytes.assign(bytes, bytes + inputSize);
    }
    control::LoggedRequest entry;
    entry.Sequence = id;
    entry.Code = code;
    entry.ThreadId = GetCurrentThreadId();
    entry.Device = device;
    entry.Input = inputBytes;
    entry.OutputSize = outputSize;
    state.Log.push_back(entry);

    if (overlapped) {
        // The system marks the request pending and clears its event first.
        overlapped->Internal = kStatusPending;
        overlapped->InternalHigh = 0;
        ResetEvent(CompletionEvent(device, overlapped));
    }

    control::RequestFault fault;
    bool faulted = TakeFault(code, &fault);
    using Kind = control::RequestFault::Kind;
    Reply reply;
    if (faulted && fault.FaultKind == Kind::FailAtOnce) {
        reply = Fail(fault.Error);
    } else if (faulted && fault.FaultKind == Kind::FailAfterPending) {
        reply = KeepPending();
        DWORD error = fault.Error;
        ScheduleAfter(fault.DelayMs, [id, error] { CompleteRequest(id, error); });
    } else {
        auto handler = state.Handlers.find(code);
        Request request{id, code, device, entry.ThreadId, inputBytes, outputSize};
        reply = handler != state.Handlers.end() ? handler->second(request)
                                                : Fail(ERROR_INVALID_FUNCTION);
        if (faulted && fault.FaultKind == Kind::CompleteLater && !reply.Pending) {
            DWORD error = reply.Error;
            DWORD written = reply.Written;
            std::vector<uint8_t> late = std::move(reply.Output);
            reply = KeepPending();
            ScheduleAfter(fault.DelayMs,
                          [id, error, late, written] { CompleteRequest(id, error, late, written); });
        }
    }
    int32_t sizeDelta = faulted && fault.FaultKind == Kind::ReplySizeDelta ? fault.SizeDelta : 0;
    control::LoggedRequest& logged = *FindLogEntry(id);

    if (reply.Pending) {
        if (!overlapped) {
            // Every caller of this device works overlapped; a request that
            // would pend without an OVERLAPPED record has nowhere to complete.
            logged.Result = control::LoggedRequest::Outcome::FailedAtOnce;
            logged.Error = ERROR_INVALID_PARAMETER;
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        state.Pending[id] = PendingRequest{id,       code,       device,   entry.ThreadId,
                                           overlapped, static_cast<uint8_t*>(output),
                                           outputSize, sizeDelta};
        logged.Result = control::LoggedRequest::Outcome::Pending;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (reply.Error != ERROR_SUCCESS) {
        // Failed before pending: the event is not signalled.
        if (overlapped) overlapped->Internal = StatusFromError(reply.Error);
        logged.Result = control::LoggedRequest::Outcome::FailedAtOnce;
        logged.Error = reply.Error;
        SetLastError(reply.Error);
        return FALSE;
    }
    DWORD bytes = DeliverOutput(reply.Output, reply.Written, static_cast<uint8_t*>(output),
                                outputSize, sizeDelta);
    logged.Result = control::LoggedRequest::Outcome::CompletedAtOnce;
    logged.BytesReturned = bytes;
    if (bytesReturned) *bytesReturned = bytes;
    FinishOverlapped(device, overlapped, kStatusSuccess, bytes);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CancelThreadRequests(HANDLE device) {
    ScopedLock guard(DriverLock());
    if (!State().Handles.count(device)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD thread = GetCurrentThreadId();
    std::vector<uint32_t> ids;
    for (const auto& [id, request] : State().Pending) {
        if (request.Device == device && request.ThreadId == thread) ids.push_back(id);
    }
    for (uint32_t id : ids) CompleteRequest(id, ERROR_OPERATION_ABORTED);
    return TRUE;
}

BOOL CloseDevice(HANDLE device) {
    {
        ScopedLock guard(DriverLock());
        if (!State().Handles.count(device)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        // Closing the handle cancels every request still pending on it.
        std::vector<uint32_t> ids;
        for (const auto& [id, request] : State().Pending) {
            if (request.Device == device) ids.push_back(id);
        }
        for (uint32_t id : ids) CompleteRequest(id, ERROR_OPERATION_ABORTED);
        State().Handles.erase(device);
    }
    return ::CloseHandle(device);
}

void InjectRequestFault(uint32_t code, const control::RequestFault& fault) {
    ScopedLock guard(DriverLock());
    State().Faults[code].push_back(fault);
}

void ClearRequestFaults() {
    ScopedLock guard(DriverLock());
    State().Faults.clear();
}

std::vector<control::LoggedRequest> CopyRequestLog() {
    ScopedLock guard(DriverLock());
    return State().Log;
}

void ClearRequestLogEntries() {
    ScopedLock guard(DriverLock());
    State().Log.clear();
}

size_t CountPendingRequests(uint32_t code) {
    ScopedLock guard(DriverLock());
    size_t count = 0;
    for (const auto& [id, request] : State().Pending) {
        if (code == 0 || request.Code == code) ++count;
    }
    return count;
}

size_t CountOpenHandles() {
    ScopedLock guard(DriverLock());
    return State().Handles.size();
}

void CancelAllRequests() {
    ScopedLock guard(DriverLock());
    std::vector<uint32_t> ids;
    for (const auto& [id, request] : State().Pending) ids.push_back(id);
    for (uint32_t id : ids) CompleteRequest(id, ERROR_OPERATION_ABORTED);
}

}  // namespace emu
