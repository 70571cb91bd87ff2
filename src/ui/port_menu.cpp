#include "ui/port_menu.h"

namespace quorvel {

// The menu bar comes with its own work; until then the ports have no menu.
void UpdatePortMenu(HWND, bool, uint32_t, PortMonitor*) {}

}  // namespace quorvel
