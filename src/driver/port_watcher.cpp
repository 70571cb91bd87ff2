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
// 1 while an arrival is in the main thread's hands and not yet taken:
// written by the watcher (1 before it posts, 0 at its start), cleared by the
// main thread when it takes the arrival (TakeWatcherArrival).
volatile LONG g_arrivalInHand = 0;

// How often the watcher tries again to post an arrival that neither the
// window nor its thread took.
constexpr DWORD kRepostMs = 100;

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
bool PostArrival(const WatcherStartBlock& target, ArrivalMessage* message) {
    LPARAM address = reinterpret_cast<LPARAM>(message);
    if (target.Target && PostMessageA(target.Target, target.Message, target.Parameter, address)) return true;
    return PostThreadMessageA(target.TargetThreadId, target.Message, target.Parameter, address) != FALSE;
}

// Posts the arrival, and again every 100 ms while neither post goes through
// (a full queue, a thread without one yet): an arrival that was never
// posted would never be taken, and no later port would come. False when
// StopEvent came first.
bool HandOver(const WatcherStartBlock& target, ArrivalMessage* message) {
    InterlockedExchange(&g_arrivalInHand, 1);
    while (!PostArrival(target, message)) {
        if (WaitForSingleObject(StopEvent, kRepostMs) != WAIT_TIMEOUT) return false;
    }
    return true;
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
    InterlockedExchange(&g_arrivalInHand, 0);
    while (WaitPortArrival(ControlDevice, g_arrivalBuffer, StopEvent)) {
        g_arrivalMessage.Header = &g_arrivalBuffer;
        if (!HandOver(target, &g_arrivalMessage) || !AwaitTaken(taken.Get())) break;
    }
    g_arrivalMessage.TakenSemaphore = nullptr;
    return 0;
}

ArrivalMessage* TakeWatcherArrival(LPARAM lParam) {
    if (lParam != reinterpret_cast<LPARAM>(&g_arrivalMessage)) return nullptr;
    return InterlockedExchange(&g_arrivalInHand, 0) == 1 ? &g_arrivalMessage : nullptr;
}

}  // namespace quorvel
