// The five capture requests of a port, issued by its capture thread on the
// port's DeviceHandle.
#pragma once

#include <windows.h>

#include <cstdint>

#include "port/port_monitor.h"

namespace quorvel {

// The three waits of the capture loop.
enum CaptureWait : uint32_t { kDataWait = 0, kSignalWait = 1, kNoticeWait = 2, kCaptureWaits = 3 };

// Allocates the port's ring and lends it to the driver, and only once the
// driver has taken it (at once, or when the pending attach has ended) makes
// it the port's. True on success; on failure the port has no ring.
bool AttachCapture(PortMonitor& port);

// Issues each wait whose OVERLAPPED is given (data, signal, notice order),
// with the OVERLAPPED's own event; the signal wait writes the colour index,
// the notice wait the notice. Sets outstanding[i] for each wait issued that
// completed at once or is pending (so its event is or will be signalled);
// a wait that failed at once leaves it clear. Nothing without device or ring.
void ArmWaits(PortMonitor& port, OVERLAPPED* waits[kCaptureWaits], uint32_t* colourIndex,
              char* notice, uint32_t noticeSize, bool outstanding[kCaptureWaits]);

// Cancels the outstanding waits and waits for each to end, so that none
// writes into the loop's memory afterwards. Clears outstanding.
void CancelWaits(PortMonitor& port, OVERLAPPED waits[kCaptureWaits],
                 bool outstanding[kCaptureWaits]);

// Tells the driver to let go of the ring; the ring stays allocated.
void DetachCapture(PortMonitor& port);

}  // namespace quorvel
