// The stand-in's control device: its handles and the life of each request.
//
// A request is decided by the handler registered for its code. It either
// completes at once or stays pending until the driver completes it (from the
// driver thread, from a test, or by cancellation). A completion fills the
// caller's OVERLAPPED as the system does (InternalHigh = byte count, then
// Internal = status) and then signals its event, so that the system's own
// GetOverlappedResult reads it. Output is buffered: the caller's output buffer
// is written only when the request completes successfully.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "system/scoped_handles.h"
#include "emulator/kernel/request_log.h"

namespace emu {

// One lock for the whole emulated driver: device, requests, ports, log.
quorvel::ProcessLock& DriverLock();
using DriverGuard = quorvel::ScopedLock<quorvel::ProcessLock>;

// A request as its handler sees it.
struct Request {
    uint32_t Id;  // also its sequence number in the request log
    uint32_t Code;
    HANDLE Device;
    DWORD ThreadId;
    const std::vector<uint8_t>& Input;
    DWORD OutputSize;
};

// What a handler decides.
struct Reply {
    bool Pending = false;         // the driver keeps the request and completes it later
    DWORD Error = ERROR_SUCCESS;  // when not pending
    std::vector<uint8_t> Output;  // when not pending and successful
    DWORD Written = 0;            // the count a request without output reports (bytes it took)
};

inline Reply Succeed(std::vector<uint8_t> output = {}) { return Reply{false, ERROR_SUCCESS, std::move(output), 0}; }
inline Reply SucceedWritten(DWORD written) { return Reply{false, ERROR_SUCCESS, {}, written}; }
inline Reply Fail(DWORD error) { return Reply{false, error, {}, 0}; }
inline Reply KeepPending() { return Reply{true, ERROR_SUCCESS, {}, 0}; }

// A handler sees only requests whose input and output sizes are those of
// its code (request_sizes.h): the device refuses the others first.
using RequestHandler = Reply (*)(const Request&);

// The PortKey that heads the input of every per-port request (0 when the
// input is shorter).
uint32_t RequestPortKey(const Request& request);

// Registers the handler of one request code (the control driver does this).
void SetRequestHandler(uint32_t code, RequestHandler handler);

// Completes a pending request; call with the driver lock held. Returns
// false when the request is no longer pending (completed or cancelled).
// written is the count of a successful request without output.
bool CompleteRequest(uint32_t id, DWORD error, const std::vector<uint8_t>& output = {},
                     DWORD written = 0);

bool IsRequestPending(uint32_t id);

// The seam's device calls.
HANDLE OpenDevice(DWORD flagsAndAttributes);
bool IsDeviceHandle(HANDLE handle);
BOOL IssueRequest(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output,
                  DWORD outputSize, DWORD* bytesReturned, OVERLAPPED* overlapped);
BOOL CancelThreadRequests(HANDLE device);
BOOL CloseDevice(HANDLE device);

// Completes every pending request as cancelled (for a fresh driver).
void CancelAllRequests();

// Arms a fault for the next requests of a code (after those armed before).
void AddRequestFault(uint32_t code, const RequestFault& fault);

}  // namespace emu
