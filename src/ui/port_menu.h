// The menu bar that follows the ports.
#pragma once

#include <windows.h>

#include <cstdint>

#include "port/port_monitor.h"

namespace quorvel {

// Called on an arrival after the port was linked (count includes it) and on
// a loss before the port is removed (count still includes it).
void UpdatePortMenu(HWND mainWindow, bool arriving, uint32_t count, PortMonitor* port);

}  // namespace quorvel
