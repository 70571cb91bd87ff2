// Which watched devices are ports now, and who holds them: a device becomes
// a port when a first process gets a descriptor of it and stops being one
// when the last descriptor goes. Each process that comes or goes is told in
// the pane, once per process (a dup within it is not news). Pure code.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace watch {

struct PortChange {
    uint16_t Port = 0;      // the device's port (0: it has none)
    bool Arrived = false;   // the port is new with this change
    bool Left = false;      // the port has gone with it
    std::string Text;       // the event line, or "" when nothing is news
};

class PortBook {
public:
    // A process got a descriptor of device: how (open, inherited, received).
    PortChange Opened(uint32_t device, uint32_t process, int32_t descriptor, const std::string& program, uint32_t how);
    // One went: how (close, exec, exit, replaced).
    PortChange Closed(uint32_t device, uint32_t process, int32_t descriptor, const std::string& program, uint32_t how);
    // The device's port, or 0.
    uint16_t PortOf(uint32_t device) const;
    // Every device that is a port now, with its port.
    const std::map<uint32_t, uint16_t>& Ports() const { return ports_; }

private:
    PortChange Unchanged(uint32_t device) const;

    std::map<uint32_t, uint16_t> ports_;  // device -> port
    std::map<uint32_t, std::set<std::pair<uint32_t, int32_t>>> holders_;  // device -> (process, descriptor)
    uint16_t lastPort_ = 0;
};

}  // namespace watch
