#include "emulator/kernel/device_core.h"

#include <algorithm>
#include <cstring>

#include "emulator/kernel/device_state.h"
#include "emulator/kernel/driver_clock.h"
#include "emulator/kernel/request_sizes.h"
#include "emulator/kernel/status_codes.h"

namespace emu {

DeviceState& Device() {
    static auto* state = new DeviceState;  // never destroyed: the driver thread may run at exit
    return *state;
}

namespace {

LoggedRequest* FindLogEntry(uint32_t id) {
    auto& log = Device().Log;
    // Entries are appended in id order; a cleared log may have lost the entry.
    auto it = std::lower_bound(log.begin(), log.end(), id,
                               [](const LoggedRequest& e, uint32_t v) { return e.Sequence < v; });
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

bool TakeFault(uint32_t code, RequestFault* fault) {
    auto found = Device().Faults.find(code);
    if (found == Device().Faults.end() || found->second.empty()) return false;
    *fault = found->second.front();
    if (fault->Times != 0 && --found->second.front().Times == 0) found->second.pop_front();
    return true;
}

}  // namespace

quorvel::ProcessLock& DriverLock() {
    static quorvel::ProcessLock lock;  // never destroyed: the driver thread may run at exit
    return lock;
}

void SetRequestHandler(uint32_t code, RequestHandler handler) {
    DriverGuard guard(DriverLock());
    Device().Handlers[code] = handler;
}

bool IsRequestPending(uint32_t id) {
    DriverGuard guard(DriverLock());
    return Device().Pending.count(id) != 0;
}

bool CompleteRequest(uint32_t id, DWORD error, const std::vector<uint8_t>& output, DWORD written) {
    DriverGuard guard(DriverLock());
    auto found = Device().Pending.find(id);
    if (found == Device().Pending.end()) return false;
    PendingRequest request = found->second;
    Device().Pending.erase(found);
    DWORD bytes = error == ERROR_SUCCESS
                      ? DeliverOutput(output, written, request.Output, request.OutputSize,
                                      request.SizeDelta)
                      : 0;
    if (LoggedRequest* entry = FindLogEntry(id)) {
        entry->Result = LoggedRequest::Outcome::CompletedLater;
        entry->Error = error;
        entry->BytesReturned = bytes;
    }
    FinishOverlapped(request.Device, request.Overlapped, StatusFromError(error), bytes);
    return true;
}

void CancelAllRequests() {
    DriverGuard guard(DriverLock());
    CancelPendingWhere([](const PendingRequest&) { return true; });
}

void AddRequestFault(uint32_t code, const RequestFault& fault) {
    DriverGuard guard(DriverLock());
    Device().Faults[code].push_back(fault);
}

uint32_t RequestPortKey(const Request& request) {
    uint32_t key = 0;
    if (request.Input.size() >= sizeof(key)) std::memcpy(&key, request.Input.data(), sizeof(key));
    return key;
}

HANDLE OpenDevice(DWORD flagsAndAttributes) {
    // A real, unnamed event stands for the device handle: its value can never
    // collide with another handle of the process, and a request without an
    // event of its own signals it on completion, as a file handle would be.
    HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!handle) return INVALID_HANDLE_VALUE;
    DriverGuard guard(DriverLock());
    Device().Handles[handle] = flagsAndAttributes;
    return handle;
}

bool IsDeviceHandle(HANDLE handle) {
    DriverGuard guard(DriverLock());
    return Device().Handles.count(handle) != 0;
}

namespace {

using Kind = RequestFault::Kind;

// Appends the request to the log, dropping the oldest beyond the limit.
LoggedRequest& LogRequest(uint32_t id, DWORD code, HANDLE device,
                                   const std::vector<uint8_t>& input, DWORD outputSize) {
    auto& log = Device().Log;
    if (log.size() >= kMaxLoggedRequests) log.pop_front();
    LoggedRequest entry;
    entry.Sequence = id;
    entry.Code = code;
    entry.ThreadId = GetCurrentThreadId();
    entry.Device = device;
    entry.Input = input;
    entry.OutputSize = outputSize;
    log.push_back(std::move(entry));
    return log.back();
}

// What the driver makes of the request: its handler's reply, or what an
// injected fault makes of it.
Reply Decide(const Request& request, const RequestFault* fault) {
    uint32_t id = request.Id;
    if (fault && fault->FaultKind == Kind::FailAtOnce) return Fail(fault->Error);
    if (fault && fault->FaultKind == Kind::FailAfterPending) {
        DWORD error = fault->Error;
        ScheduleAfter(fault->DelayMs, [id, error] { CompleteRequest(id, error); });
        return KeepPending();
    }
    auto handler = Device().Handlers.find(request.Code);
    Reply reply = handler != Device().Handlers.end() ? handler->second(request) : Fail(ERROR_INVALID_FUNCTION);
    if (fault && fault->FaultKind == Kind::CompleteLater && !reply.Pending) {
        DWORD error = reply.Error, written = reply.Written;
        std::vector<uint8_t> late = std::move(reply.Output);
        ScheduleAfter(fault->DelayMs, [id, error, late, written] { CompleteRequest(id, error, late, written); });
        return KeepPending();
    }
    return reply;
}

BOOL PendRequest(const Request& request, LoggedRequest& logged, OVERLAPPED* overlapped,
                 void* output, int32_t sizeDelta) {
    if (!overlapped) {
        // Every caller of this device works overlapped; a request that would
        // pend without an OVERLAPPED record has nowhere to complete.
        logged.Result = LoggedRequest::Outcome::FailedAtOnce;
        logged.Error = ERROR_INVALID_PARAMETER;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Device().Pending[request.Id] = PendingRequest{request.Id, request.Code, request.Device, request.ThreadId,
                                                 overlapped, static_cast<uint8_t*>(output), request.OutputSize,
                                                 sizeDelta};
    logged.Result = LoggedRequest::Outcome::Pending;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

// Failed before pending: the event is not signalled.
BOOL FailRequest(DWORD error, LoggedRequest& logged, OVERLAPPED* overlapped) {
    if (overlapped) overlapped->Internal = StatusFromError(error);
    logged.Result = LoggedRequest::Outcome::FailedAtOnce;
    logged.Error = error;
    SetLastError(error);
    return FALSE;
}

BOOL CompleteAtOnce(const Reply& reply, LoggedRequest& logged, HANDLE device, void* output,
                    DWORD outputSize, int32_t sizeDelta, DWORD* bytesReturned, OVERLAPPED* overlapped) {
    DWORD bytes = DeliverOutput(reply.Output, reply.Written, static_cast<uint8_t*>(output), outputSize, sizeDelta);
    logged.Result = LoggedRequest::Outcome::CompletedAtOnce;
    logged.BytesReturned = bytes;
    if (bytesReturned) *bytesReturned = bytes;
    FinishOverlapped(device, overlapped, kStatusSuccess, bytes);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace

BOOL IssueRequest(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output,
                  DWORD outputSize, DWORD* bytesReturned, OVERLAPPED* overlapped) {
    DriverGuard guard(DriverLock());
    DeviceState& state = Device();
    if (!state.Handles.count(device)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    uint32_t id = state.NextId++;
    const auto* bytes = static_cast<const uint8_t*>(input);
    std::vector<uint8_t> inputBytes(bytes, bytes && inputSize ? bytes + inputSize : bytes);
    LoggedRequest& logged = LogRequest(id, code, device, inputBytes, outputSize);
    if (overlapped) {
        // The system marks the request pending and clears its event first.
        overlapped->Internal = kStatusPending;
        overlapped->InternalHigh = 0;
        ResetEvent(CompletionEvent(device, overlapped));
    }
    // A driver checks the sizes first: a request of another size fails
    // before anything else is looked at, injected faults included.
    if (!RequestSizesFit(code, inputBytes, outputSize)) {
        return FailRequest(ERROR_INVALID_PARAMETER, logged, overlapped);
    }
    RequestFault fault;
    bool faulted = TakeFault(code, &fault);
    Request request{id, code, device, logged.ThreadId, inputBytes, outputSize};
    Reply reply = Decide(request, faulted ? &fault : nullptr);
    int32_t sizeDelta = faulted && fault.FaultKind == Kind::ReplySizeDelta ? fault.SizeDelta : 0;
    // A handler logs no request of its own, so the entry (in a deque) stays
    // where it is.
    if (reply.Pending) return PendRequest(request, logged, overlapped, output, sizeDelta);
    if (reply.Error != ERROR_SUCCESS) return FailRequest(reply.Error, logged, overlapped);
    return CompleteAtOnce(reply, logged, device, output, outputSize, sizeDelta, bytesReturned, overlapped);
}

void CancelPendingWhere(const std::function<bool(const PendingRequest&)>& picked) {
    std::vector<uint32_t> ids;
    for (const auto& [id, request] : Device().Pending) {
        if (picked(request)) ids.push_back(id);
    }
    for (uint32_t id : ids) CompleteRequest(id, ERROR_OPERATION_ABORTED);
}

BOOL CancelThreadRequests(HANDLE device) {
    DriverGuard guard(DriverLock());
    if (!Device().Handles.count(device)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD thread = GetCurrentThreadId();
    CancelPendingWhere([&](const PendingRequest& r) { return r.Device == device && r.ThreadId == thread; });
    return TRUE;
}

BOOL CloseDevice(HANDLE device) {
    {
        DriverGuard guard(DriverLock());
        if (!Device().Handles.count(device)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        // Closing the handle cancels every request still pending on it.
        CancelPendingWhere([&](const PendingRequest& r) { return r.Device == device; });
        Device().Handles.erase(device);
    }
    return ::CloseHandle(device);
}

}  // namespace emu
