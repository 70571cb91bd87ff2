#include "port/port_list.h"

namespace quorvel {

PortMonitor* PortList = nullptr;
uint32_t PortCount = 0;

void LinkPortMonitor(PortMonitor& port) {
    port.Next = PortList;
    port.Previous = nullptr;
    if (PortList) PortList->Previous = &port;
    PortList = &port;
    ++PortCount;
}

void UnlinkPortMonitor(PortMonitor& port) {
    if (port.Previous) port.Previous->Next = port.Next;
    if (port.Next) port.Next->Previous = port.Previous;
    if (PortList == &port) PortList = port.Next;
    --PortCount;
}

}  // namespace quorvel
