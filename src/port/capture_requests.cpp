#include "port/capture_requests.h"

#include "driver/capture_options.h"
#include "driver/device_request.h"
#include "wire/request_codes.h"
#include "port/capture_ring.h"
#include "port/ring_memory.h"
#include "system/scoped_handles.h"
#include "system/system_calls.h"

namespace quorvel {
namespace {

// Attach and detach run on every capture thread at once (at start and at
// exit), so each call has an event of its own.
HANDLE NewCallEvent() { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }

}  // namespace

bool AttachCapture(PortMonitor& port) {
    if (port.DeviceHandle == INVALID_HANDLE_VALUE) return false;
    OwnedCaptureRing ring(AllocateCaptureRing(kCaptureCapacity, port.Header.PortKey));
    if (!ring) return false;
    AttachRequest request{};
    // Never fails with a ring from AllocateCaptureRing; an address is never
    // cut to fit.
    if (!RingAddressField(ring.get(), &request.RingAddress)) return false;
    request.RecordForm = port.RecordForm;
    request.Options = CaptureOptions & 7;
    ScopedHandle event(NewCallEvent());
    OVERLAPPED overlapped;
    RequestStart start = event.Get() ? StartRequest(port.DeviceHandle, IOCTL_LINE_ATTACH_CAPTURE,
                                                    &request, sizeof(request), nullptr, 0,
                                                    overlapped, event.Get())
                                     : RequestStart::Failed;
    if (start == RequestStart::Failed || (start == RequestStart::Pending && !AwaitRequestEvent(event.Get()))) {
        return false;
    }
    // The driver has the ring (the final status of a pending attach is not
    // examined): it is the port's now (ReleaseStorage frees it), and the
    // main thread's requests may use it from here on, never before.
    PublishCaptureRing(port, ring.release());
    if (start == RequestStart::Pending) SetLastError(ERROR_SUCCESS);
    return true;
}

void ArmWaits(PortMonitor& port, OVERLAPPED* waits[kCaptureWaits], uint32_t* colourIndex,
              char* notice, uint32_t noticeSize, bool outstanding[kCaptureWaits]) {
    if (port.DeviceHandle == INVALID_HANDLE_VALUE || !port.CaptureRing) return;
    static const uint32_t codes[kCaptureWaits] = {IOCTL_LINE_WAIT_DATA, IOCTL_LINE_WAIT_SIGNAL,
                                                  IOCTL_LINE_WAIT_NOTICE};
    void* outputs[kCaptureWaits] = {nullptr, colourIndex, notice};
    DWORD sizes[kCaptureWaits] = {0, sizeof(uint32_t), noticeSize};
    for (uint32_t i = 0; i < kCaptureWaits; ++i) {
        if (!waits[i]) continue;
        HANDLE event = waits[i]->hEvent;
        RequestStart start =
            StartRequest(port.DeviceHandle, codes[i], &port.CaptureRing->PortKey, sizeof(uint32_t),
                         outputs[i], sizes[i], *waits[i], event);
        outstanding[i] = start != RequestStart::Failed;
        SetLastError(ERROR_SUCCESS);
    }
}

void CancelWaits(PortMonitor& port, OVERLAPPED waits[kCaptureWaits],
                 bool outstanding[kCaptureWaits]) {
    if (port.DeviceHandle == INVALID_HANDLE_VALUE) return;
    for (uint32_t i = 0; i < kCaptureWaits; ++i) {
        if (!outstanding[i]) continue;
        if (seam::CancelIo(port.DeviceHandle)) AwaitRequestEvent(waits[i].hEvent);
        outstanding[i] = false;
    }
}

void DetachCapture(PortMonitor& port) {
    if (port.DeviceHandle == INVALID_HANDLE_VALUE || !port.CaptureRing) return;
    ScopedHandle event(NewCallEvent());
    if (!event.Get()) return;
    OVERLAPPED overlapped;
    if (StartRequest(port.DeviceHandle, IOCTL_LINE_DETACH_CAPTURE, &port.CaptureRing->PortKey,
                     sizeof(uint32_t), nullptr, 0, overlapped, event.Get()) == RequestStart::Pending) {
        AwaitRequestEvent(event.Get());
        SetLastError(ERROR_SUCCESS);
    }
}

}  // namespace quorvel
