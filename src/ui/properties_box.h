// The "Port properties" box of a port.
#pragma once

#include <windows.h>

#include "port/port_monitor.h"

namespace quorvel {

// Shows the box owned by owner and returns when the user dismisses it. The
// text is made before the box opens: the port may be removed while it is
// open.
void ShowProperties(const PortMonitor& port, HWND owner);

}  // namespace quorvel
