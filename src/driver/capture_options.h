// CaptureOptions: the options field of the driver's information reply.
// Written once by the main thread while it configures the driver, before any
// capture thread exists; read by every capture thread when it attaches.
#pragma once

#include <cstdint>

namespace quorvel {

extern uint32_t CaptureOptions;  // 0 until the driver is configured

}  // namespace quorvel
