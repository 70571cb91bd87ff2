// The overlapped request cycle, written once for every request to the
// control device.
//
// A request goes out overlapped. Completed at once means done. Pending
// (ERROR_IO_PENDING) means: wait without time limit on its event, then read
// the byte count or status with GetOverlappedResult without waiting. Any
// other failure is that request's failure; the caller decides what follows.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quorvel {

enum class RequestStart {
    Completed,  // the driver completed it at once
    Pending,    // it completes later and signals the OVERLAPPED's event
    Failed,     // it failed at once; nothing is outstanding
};

// Clears overlapped, gives it event and sends the request through the seam.
// bytesAtOnce (optional) receives the count of a request completed at once.
// The thread's last error is still the one the send left, for callers that
// report it.
RequestStart StartRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize,
                          void* output, DWORD outputSize, OVERLAPPED& overlapped, HANDLE event,
                          DWORD* bytesAtOnce = nullptr);

// Waits without time limit for a pending request's event. False when the
// wait itself fails.
bool AwaitRequestEvent(HANDLE event);

// Clears the thread's last error and reads a finished request's outcome
// without waiting. False when the request failed; bytes gets its count.
bool ReadRequestResult(HANDLE device, OVERLAPPED& overlapped, DWORD* bytes);

// The whole cycle for a request whose caller waits for it alone: start it,
// and when pending await its event and read its result. True when it
// completed successfully; bytes (optional) gets the count.
bool RunRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize, void* output,
                DWORD outputSize, HANDLE event, DWORD* bytes = nullptr);

// An unnamed auto-reset event created on first use and kept for the life of
// the process; slot is the caller's own static. Null when it cannot be made.
HANDLE LazyAutoResetEvent(HANDLE& slot);

}  // namespace quorvel
