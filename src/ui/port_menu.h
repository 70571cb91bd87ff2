// The menu bar that follows the ports: three pause items that act on the
// focused port (the port whose pane has the keyboard focus) and the
// "&Description" popup with one item per port, which shows the chosen port's
// "Port properties". It exists only while at least one port does. Main
// thread only, inside the main window's procedure.
#pragma once

#include <windows.h>

#include <cstdint>

#include "port/port_monitor.h"

namespace quorvel {

// Called on an arrival after the port was linked (count includes it) and on
// a loss before the port is removed (count still includes it). The popup's
// items keep ids 1101 upwards in their order: after a loss the remaining ones
// are renumbered, so a new arrival's 1100 + count is always the next id.
enum class PortChange { Arrived, Removed };
void UpdatePortMenu(HWND mainWindow, PortChange change, uint32_t count, PortMonitor* port);

// LBN_SETFOCUS (gained) or LBN_KILLFOCUS of a pane: the pause items follow
// the pane's port, and so does the terminal.
void OnPaneFocus(HWND mainWindow, HWND pane, bool gained);

// ID_PAUSE_TX, ID_PAUSE_RX or ID_PAUSE_BOTH on the focused port.
void OnPauseCommand(HWND mainWindow, uint32_t command);

// Any other command id: a Description item shows its port's properties;
// ids outside the popup's range do nothing.
void OnDescriptionCommand(HWND mainWindow, uint32_t command);

}  // namespace quorvel
