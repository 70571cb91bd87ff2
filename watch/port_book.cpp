#include "watch/port_book.h"

#include "watch/watch_records.h"

namespace watch {
namespace {

std::string Who(const std::string& program, uint32_t process) {
    return program + " (pid " + std::to_string(process) + ")";
}

bool HoldsAny(const std::set<std::pair<uint32_t, int32_t>>& holders, uint32_t process) {
    auto next = holders.lower_bound({process, INT32_MIN});
    return next != holders.end() && next->first == process;
}

}  // namespace

PortChange PortBook::Unchanged(uint32_t device) const {
    PortChange change;
    change.Port = PortOf(device);
    return change;
}

PortChange PortBook::Opened(uint32_t device, uint32_t process, int32_t descriptor, const std::string& program,
                            uint32_t how) {
    PortChange change;
    auto& holders = holders_[device];
    bool newProcess = !HoldsAny(holders, process);
    if (!holders.insert({process, descriptor}).second) return Unchanged(device);
    if (!ports_.count(device)) {
        if (++lastPort_ == 0) lastPort_ = 1;  // 0 is a tap's port, never a watch's
        ports_[device] = lastPort_;
        change.Arrived = true;
    }
    change.Port = ports_[device];
    if (newProcess) {
        const char* verb = how == watchwire::WATCH_BY_FORK      ? "inherited by "
                           : how == watchwire::WATCH_BY_RECEIVE ? "received by "
                                                                : "opened by ";
        change.Text = "[" + std::string(verb) + Who(program, process) + "]";
    }
    return change;
}

PortChange PortBook::Closed(uint32_t device, uint32_t process, int32_t descriptor, const std::string& program,
                            uint32_t how) {
    PortChange change;
    auto holders = holders_.find(device);
    if (holders == holders_.end() || !holders->second.erase({process, descriptor})) return Unchanged(device);
    change.Port = ports_[device];
    if (!HoldsAny(holders->second, process)) {
        const char* when = how == watchwire::WATCH_BY_EXEC ? " on exec" : how == watchwire::WATCH_BY_EXIT ? " at its exit" : "";
        change.Text = "[closed by " + Who(program, process) + when + "]";
    }
    if (holders->second.empty()) {
        holders_.erase(holders);
        ports_.erase(device);
        change.Left = true;
    }
    return change;
}

uint16_t PortBook::PortOf(uint32_t device) const {
    auto port = ports_.find(device);
    return port == ports_.end() ? 0 : port->second;
}

}  // namespace watch
