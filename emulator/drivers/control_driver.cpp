#include "emulator/drivers/control_driver.h"

#include <cstring>
#include <deque>

#include "wire/device_records.h"
#include "wire/request_codes.h"
#include "wire/port_property_records.h"
#include "emulator/drivers/command_channel.h"
#include "emulator/kernel/device_core.h"
#include "emulator/kernel/driver_clock.h"
#include "emulator/drivers/filter_driver.h"

namespace emu {
namespace {

using namespace quorvel;

struct DriverState {
    std::vector<uint8_t> InfoReply;
    DriverSnapshot Snapshot;
    ConfigurationListener OnConfiguration = nullptr;
    std::deque<uint32_t> UnreportedArrivals;  // port keys, in arrival order
    std::deque<uint32_t> ArrivalWaits;        // request ids, in issue order
    uint32_t NextPortKey = 0x00010001;
};

std::vector<uint8_t> DefaultInfoReply() {
    DriverInfoReply reply{};
    reply.Length = sizeof(DriverInfoReply);
    reply.DriverData4 = 0x00010002;   // driver version 1.2
    reply.DriverData8 = 0x2A5AC3B1;   // driver data; byte 10 is replaced by the configuration
    reply.Options = 0x00000005;
    reply.DriverData16 = 0x7D6C5B4A;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&reply);
    return std::vector<uint8_t>(bytes, bytes + sizeof(reply));
}

DriverState& ControlDriver() {
    static auto* state = [] {
        auto* s = new DriverState;  // never destroyed: the driver thread may run at exit
        s->InfoReply = DefaultInfoReply();
        return s;
    }();
    return *state;
}

uint32_t ReadU32(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    if (bytes.size() >= offset + 4) std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

// Hands queued arrivals to pending arrival waits, one port per wait.
void DeliverArrivals() {
    DriverState& state = ControlDriver();
    while (!state.UnreportedArrivals.empty() && !state.ArrivalWaits.empty()) {
        uint32_t wait = state.ArrivalWaits.front();
        state.ArrivalWaits.pop_front();
        if (!IsRequestPending(wait)) continue;  // cancelled meanwhile
        uint32_t key = state.UnreportedArrivals.front();
        state.UnreportedArrivals.pop_front();
        CompleteRequest(wait, ERROR_SUCCESS, BuildPropertyHeader(key, FindPort(key)->Blobs));
    }
}

Reply GetDriverInfo(const Request&) {
    return Succeed(ControlDriver().InfoReply);
}

Reply SetConfig(const Request& request) {
    if (request.Input.size() != kDriverConfigLength) return Fail(ERROR_INVALID_PARAMETER);
    DriverSnapshot& snapshot = ControlDriver().Snapshot;
    snapshot.Configured = true;
    snapshot.ConfigRecord = request.Input;
    const char* text = reinterpret_cast<const char*>(request.Input.data()) + 16;
    snapshot.SettingsText.assign(text, strnlen(text, kSettingsTextCapacity));
    if (ControlDriver().OnConfiguration) ControlDriver().OnConfiguration(request.Input);
    return Succeed();
}

Reply SetPersistent(const Request& request) {
    if (request.Input.size() < 1) return Fail(ERROR_INVALID_PARAMETER);
    ControlDriver().Snapshot.PersistentFlag = request.Input[0];
    return Succeed();
}

Reply Shutdown(const Request& request) {
    if (request.Input.size() < 1) return Fail(ERROR_INVALID_PARAMETER);
    ControlDriver().Snapshot.ShutdownValues.push_back(request.Input[0]);
    return Succeed();
}

Reply WaitPortArrival(const Request& request) {
    DriverState& state = ControlDriver();
    // Waits cancelled meanwhile no longer count.
    auto& waits = state.ArrivalWaits;
    for (auto it = waits.begin(); it != waits.end();) {
        it = IsRequestPending(*it) ? it + 1 : waits.erase(it);
    }
    if (!state.UnreportedArrivals.empty() && waits.empty()) {
        uint32_t key = state.UnreportedArrivals.front();
        state.UnreportedArrivals.pop_front();
        return Succeed(BuildPropertyHeader(key, FindPort(key)->Blobs));
    }
    waits.push_back(request.Id);
    return KeepPending();
}

Reply GetPortProperties(const Request& request) {
    uint32_t key = ReadU32(request.Input, 0);
    EmulatedPort* port = FindPort(key);
    if (!port) return Fail(ERROR_DEV_NOT_EXIST);
    if (port->RefusesProperties) return Fail(ERROR_GEN_FAILURE);
    std::vector<uint8_t> reply = BuildPropertyReply(key, port->Blobs);
    // The size was checked against the lengths the program sent; the port's
    // own blobs may need more.
    if (request.OutputSize < reply.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return Succeed(std::move(reply));
}

}  // namespace

std::vector<uint8_t> BuildPropertyHeader(uint32_t portKey, const PortBlobs& port) {
    PortPropertyHeader header{};
    header.PortKey = portKey;
    for (uint32_t i = 0; i < kPropertyCount; ++i) {
        header.Lengths[i] = static_cast<uint32_t>(port.Properties[i].size());
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    return std::vector<uint8_t>(bytes, bytes + sizeof(header));
}

std::vector<uint8_t> BuildPropertyReply(uint32_t portKey, const PortBlobs& port) {
    std::vector<uint8_t> reply = BuildPropertyHeader(portKey, port);
    for (const std::vector<uint8_t>& blob : port.Properties) {
        reply.insert(reply.end(), blob.begin(), blob.end());
        reply.push_back(0);  // the spare byte behind every blob
    }
    return reply;
}

uint32_t ArrivePort(const ArrivingPort& arriving) {
    EnsureControlDriver();
    DriverGuard guard(DriverLock());
    DriverState& state = ControlDriver();
    uint32_t key = state.NextPortKey++;
    EmulatedPort& port = InsertPort(key);
    port.Blobs = arriving.Blobs;
    port.RefusesProperties = arriving.RefusesProperties;
    port.TickFrequency = arriving.TickFrequency;
    port.Line = arriving.Line;
    state.UnreportedArrivals.push_back(key);
    DeliverArrivals();
    return key;
}

void LeavePort(uint32_t portKey) {
    DriverGuard guard(DriverLock());
    EmulatedPort* port = FindPort(portKey);
    if (!port) return;
    ForgetPortCapture(*port);
    port->Line.Ops->Release(*port);
    ErasePort(portKey);
    auto& queue = ControlDriver().UnreportedArrivals;
    for (auto it = queue.begin(); it != queue.end();) {
        it = *it == portKey ? queue.erase(it) : it + 1;
    }
}

void EnsureControlDriver() {
    static LONG installed = 0;
    if (InterlockedExchange(&installed, 1)) return;
    SetRequestHandler(IOCTL_LINE_GET_DRIVER_INFO, GetDriverInfo);
    SetRequestHandler(IOCTL_LINE_SET_CONFIG, SetConfig);
    SetRequestHandler(IOCTL_LINE_SET_PERSISTENT, SetPersistent);
    SetRequestHandler(IOCTL_LINE_SHUTDOWN, Shutdown);
    SetRequestHandler(IOCTL_LINE_WAIT_PORT_ARRIVAL, WaitPortArrival);
    SetRequestHandler(IOCTL_LINE_GET_PORT_PROPERTIES, GetPortProperties);
    InstallFilterDriver();
    InstallCommandChannel();
}

void SetConfigurationListener(ConfigurationListener listener) {
    DriverGuard guard(DriverLock());
    ControlDriver().OnConfiguration = listener;
}

DriverSnapshot ConfiguredState() {
    DriverGuard guard(DriverLock());
    return ControlDriver().Snapshot;
}

void SetDriverInfo(const std::vector<uint8_t>& reply) {
    DriverGuard guard(DriverLock());
    ControlDriver().InfoReply = reply;
}

void ResetControlDriver() {
    DriverGuard guard(DriverLock());
    for (EmulatedPort* port : AllPorts()) LeavePort(port->Key);
    DriverState& state = ControlDriver();
    state.InfoReply = DefaultInfoReply();
    state.Snapshot = DriverSnapshot{};
    state.UnreportedArrivals.clear();
    state.ArrivalWaits.clear();
}

}  // namespace emu
