// The live port records, newest first. Main thread only; no lock.
#pragma once

#include <cstdint>

#include "port/port_monitor.h"

namespace quorvel {

extern PortMonitor* PortList;  // the head: the newest port, or null
extern uint32_t PortCount;     // number of linked records

// Puts the record at the head of PortList.
void LinkPortMonitor(PortMonitor& port);

// Takes the record out of PortList; its own links are left as they are.
void UnlinkPortMonitor(PortMonitor& port);

}  // namespace quorvel
