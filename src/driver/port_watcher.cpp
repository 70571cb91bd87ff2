#include "driver/port_watcher.h"

#include "driver/control_device.h"
#include "driver/device_request.h"
#include "wire/request_codes.h"
#include "driver/stop_event.h"
#include "driver/trace_api_result.h"
#include "system/scoped_handles.h"
#include "system/system_calls.h"

namespace quorvel {
namespace {

// The arrival buffer and the message that points at it live in static
// storage, not on the watcher's stack: an arrival may still be queued when
// the watcher ends, and whatever reads it then must find valid memory. At
// most one watcher runs at a time.
// The buffer is written by the driver while the watcher's arrival wait is
// outstanding, and read by the main thread from the post until it releases
// TakenSemaphore; the watcher issues no wait in between.
PortPropertyHeader g_arrivalBuffer;
ArrivalMessage g_arrivalMessage;  // fields: see ArrivalMessage

// Cancels the calling thread's requests on the device and, if the cancel
// was accepted, waits for the request to finish with its buffer.
void CancelArrivalWait(HANDLE device, HANDLE requestEvent) {
    bool cancelled = seam::CancelIo(device) != FALSE;
    TraceApiResult(cancelled ? 1 : 0, kServiceAccessSource, __LINE__, "CancelIo", 0);
    if (cancelled) WaitForSingleObject(requestEvent, INFINITE);
}

bool AwaitArrival(HANDLE device, OVERLAPPED& overlapped, HANDLE requestEvent, HANDLE stopEvent) {
    // When both are signalled the request event counts.
    HANDLE handles[2] = {requestEvent, stopEvent};
    DWORD wait = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (wait == WAIT_OBJECT_0) {
        ReadRequestResult(device, overlapped, nullptr);
        DWORD error = GetLastError();
        if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING) return true;
        if (error == ERROR_OPERATION_ABORTED) return false;
    } else if (wait == WAIT_OBJECT_0 + 1) {
        SetLastError(ERROR_SUCCESS);
    }
    CancelArrivalWait(device, requestEvent);
    return false;
}

// Hands the arrival to the window that the start-up named.
//
// It goes to the window as a window message, not as a thread message: a
// modal loop of the main thread (a message box, a menu being tracked, the
// window being moved or sized) dispatches window messages to their window
// procedure but takes thread messages and drops them. Only when the window is
// gone is it posted to its thread, whose message loop gives it the main
// window.
void PostArrival(const WatcherStartBlock& target, ArrivalMessage* message) {
    LPARAM address = reinterpret_cast<LPARAM>(message);
    if (target.Target && PostMessageA(target.Target, target.Message, target.Parameter, address)) return;
    PostThreadMessageA(target.TargetThreadId, target.Message, target.Parameter, address);
}

// Waits until the main thread is done with the arrival. False when
// StopEvent came first (it ends the watcher at once) or the wait failed.
bool AwaitTaken(HANDLE taken) {
    HANDLE handles[2] = {StopEvent, taken};
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

}  // namespace

bool WaitPortArrival(HANDLE device, PortPropertyHeader& buffer, HANDLE stopEvent) {
    ScopedHandle requestEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!requestEvent) return false;
    bool arrived = false;
    if (device != INVALID_HANDLE_VALUE) {
        OVERLAPPED overlapped;
        if (StartRequest(device, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, &buffer,
                         sizeof(buffer), overlapped, requestEvent.Get()) != RequestStart::Failed) {
            arrived = AwaitArrival(device, overlapped, requestEvent.Get(), stopEvent);
        }
    }
    return arrived;
}

DWORD WINAPI PortWatcherThread(LPVOID parameter) {
    WatcherStartBlock target = *static_cast<const WatcherStartBlock*>(parameter);
    ReleaseSemaphore(target.StartSemaphore, 1, nullptr);  // the block may go away now

    ScopedHandle taken(CreateSemaphoreA(nullptr, 0, 1, nullptr));
    if (!taken) return 0;
    g_arrivalMessage.TakenSemaphore = taken.Get();
    while (WaitPortArrival(ControlDevice, g_arrivalBuffer, StopEvent)) {
        g_arrivalMessage.Header = &g_arrivalBuffer;
        PostArrival(target, &g_arrivalMessage);
        if (!AwaitTaken(taken.Get())) break;
    }
    g_arrivalMessage.TakenSemaphore = nullptr;
    return 0;
}

}  // namespace quorvel
