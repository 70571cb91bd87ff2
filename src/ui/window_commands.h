// The main window's class name and the identifiers of its commands and child
// controls, shared by the threads that post to it and by the window itself.
#pragma once

#include <cstdint>

namespace quorvel {

// The main window's class, registered at start-up (the watcher is handed
// the window itself; tests from outside find it by this name).
constexpr char kMainWindowClass[] = "QuorvelClass";

// Command identifiers of WM_COMMAND.
constexpr uint32_t ID_PORT_ARRIVED = 1000;      // lParam: the watcher's ArrivalMessage
constexpr uint32_t ID_PORT_REMOVED = 1001;      // lParam: the lost port's PortMonitor
constexpr uint32_t ID_PAUSE_TX = 1002;
constexpr uint32_t ID_PAUSE_RX = 1003;
constexpr uint32_t ID_PAUSE_BOTH = 1004;
constexpr uint32_t ID_DESCRIPTION_BASE = 1100;  // Description items from 1101 on

// Child control identifiers.
constexpr uint32_t IDC_PORT_LIST = 0x2000;
constexpr uint32_t IDC_COMMAND_EDIT = 0x2001;
constexpr uint32_t IDC_RESPONSE_EDIT = 0x2003;

}  // namespace quorvel
