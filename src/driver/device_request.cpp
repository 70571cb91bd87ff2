#include "driver/device_request.h"

#include "system/system_calls.h"

namespace quorvel {

RequestStart StartRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize,
                          void* output, DWORD outputSize, OVERLAPPED& overlapped, HANDLE event,
                          DWORD* bytesAtOnce) {
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    DWORD bytes = 0;
    if (seam::DeviceIoControl(device, code, const_cast<void*>(input), inputSize, output,
                              outputSize, &bytes, &overlapped)) {
        if (bytesAtOnce) *bytesAtOnce = bytes;
        return RequestStart::Completed;
    }
    return GetLastError() == ERROR_IO_PENDING ? RequestStart::Pending : RequestStart::Failed;
}

bool AwaitRequestEvent(HANDLE event) {
    return WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
}

bool ReadRequestResult(HANDLE device, OVERLAPPED& overlapped, DWORD* bytes) {
    SetLastError(ERROR_SUCCESS);
    DWORD count = 0;
    bool ok = GetOverlappedResult(device, &overlapped, &count, FALSE) != FALSE;
    if (bytes) *bytes = count;
    return ok;
}

bool RunRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize, void* output,
                DWORD outputSize, HANDLE event, DWORD* bytes) {
    OVERLAPPED overlapped;
    switch (StartRequest(device, code, input, inputSize, output, outputSize, overlapped, event,
                         bytes)) {
        case RequestStart::Completed: return true;
        case RequestStart::Failed: return false;
        case RequestStart::Pending: break;
    }
    if (!AwaitRequestEvent(event)) return false;
    return ReadRequestResult(device, overlapped, bytes);
}

HANDLE LazyAutoResetEvent(HANDLE& slot) {
    if (!slot) slot = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return slot;
}

}  // namespace quorvel
