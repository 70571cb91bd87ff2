// The stand-in's table of emulated ports, keyed by PortKey. Records stay at
// one address for their whole life, so that a line may keep a pointer to
// its port's record while the port is present.
#include <map>
#include <memory>

#include "emulator/drivers/emulated_port.h"

namespace emu {
namespace {

std::map<uint32_t, std::unique_ptr<EmulatedPort>>& Table() {
    // Never destroyed: the driver thread and relays may run at exit.
    static auto* table = new std::map<uint32_t, std::unique_ptr<EmulatedPort>>;
    return *table;
}

}  // namespace

EmulatedPort* FindPort(uint32_t portKey) {
    auto found = Table().find(portKey);
    return found == Table().end() ? nullptr : found->second.get();
}

EmulatedPort& InsertPort(uint32_t portKey) {
    std::unique_ptr<EmulatedPort>& slot = Table()[portKey];
    slot = std::make_unique<EmulatedPort>();
    slot->Key = portKey;
    return *slot;
}

void ErasePort(uint32_t portKey) { Table().erase(portKey); }

std::vector<EmulatedPort*> AllPorts() {
    std::vector<EmulatedPort*> ports;
    for (auto& [key, port] : Table()) ports.push_back(port.get());
    return ports;
}

}  // namespace emu
