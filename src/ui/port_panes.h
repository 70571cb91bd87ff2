// The ports as the main window sees them: arrival, the list-box pane with its
// capture thread, loss, removal and the destruction sequence (the layout:
// window_layout.h).
// Main thread only.
#pragma once

#include <windows.h>

#include "port/port_monitor.h"
#include "ui/window_layout.h"

namespace quorvel {

// ID_PORT_ARRIVED: lParam is the watcher's ArrivalMessage (0: nothing happens).
void OnPortArrived(HWND mainWindow, LPARAM arrival);

// ID_PORT_REMOVED: lParam is the lost port's PortMonitor.
void OnPortLost(HWND mainWindow, LPARAM port);

// A port's pane without its port: the list box with the pane's styles, font
// and control id, as a child of the main window, hidden and not yet placed;
// or null.
HWND CreatePaneListBox(HWND mainWindow);

// Creates the port's pane and starts its capture thread. True when the pane
// exists and its thread runs; on false nothing of it is left.
bool CreatePortPane(HWND mainWindow, PortMonitor& port);

// Waits for the port's capture thread to end (serving its calls into the
// pane meanwhile), unlinks the record, releases its storage and frees it.
void RemovePort(PortMonitor& port);

// The destruction of the main window: stops the watcher and every capture
// thread and removes every port, newest first.
void StopAndRemoveAllPorts(HWND mainWindow);

}  // namespace quorvel
