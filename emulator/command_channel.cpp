#include "emulator/command_channel.h"

#include <cstring>
#include <map>
#include <string>

#include "driver/request_codes.h"
#include "emulator/control_driver.h"
#include "emulator/device_core.h"
#include "emulator/driver_clock.h"
#include "emulator/hayes_modem.h"
#include "emulator/test_control.h"
#include "port/capture_ring.h"
#include "port/port_control_records.h"

namespace emu {
namespace {

using namespace quorvel;

// What the modem has sent and the program has not read yet; beyond this the
// newest bytes are lost, as in a serial port's full input buffer.
constexpr size_t kMaxUnread = 65536;

struct Channel {
    bool Open = false;
    HayesModem Modem;
    std::string Unread;
    uint64_t TimerGeneration = 0;  // a scheduled modem timer runs only if still current
};

std::map<uint32_t, Channel>& Channels() {
    static auto* channels = new std::map<uint32_t, Channel>;  // never destroyed: the driver thread may run at exit
    return *channels;
}

// The port's open channel, or null (then fail with *error).
Channel* OpenChannel(const Request& request, DWORD* error) {
    uint32_t key = RequestPortKey(request);
    if (request.Input.size() < 4 || !PortExists(key)) {
        *error = request.Input.size() < 4 ? ERROR_INVALID_PARAMETER : ERROR_DEV_NOT_EXIST;
        return nullptr;
    }
    auto found = Channels().find(key);
    if (found == Channels().end() || !found->second.Open) {
        *error = ERROR_NOT_READY;
        return nullptr;
    }
    return &found->second;
}

void Deliver(uint32_t key, Channel& channel, const std::string& reply);

// Keeps one timer on the driver thread for the modem's next timed step.
void ScheduleModem(uint32_t key, Channel& channel) {
    uint64_t generation = ++channel.TimerGeneration;
    double dueMs = 0;
    if (!channel.Modem.NextDueMs(&dueMs)) return;
    ScheduleAt(dueMs, [key, generation] {
        auto found = Channels().find(key);
        if (found == Channels().end() || found->second.TimerGeneration != generation) return;
        std::string reply;
        found->second.Modem.Advance(DriverClockMilliseconds(), &reply);
        Deliver(key, found->second, reply);
        ScheduleModem(key, found->second);
    });
}

// What the modem sends: read by the program and recorded as received bytes,
// while the channel is open.
void Deliver(uint32_t key, Channel& channel, const std::string& reply) {
    if (!channel.Open || reply.empty()) return;
    size_t room = kMaxUnread - channel.Unread.size();
    channel.Unread.append(reply, 0, reply.size() < room ? reply.size() : room);
    control::PushBytes(key, kDirectionRx, reply);
}

Reply SetCommandMode(const Request& request) {
    CommandModeRecord record;
    DWORD error = 0;
    if (!ReadPortRecord(request, &record, &error)) return Fail(error);
    Channel& channel = Channels()[record.PortKey];
    channel.Open = record.Enable != 0;
    channel.Unread.clear();  // a fresh opening starts with nothing unread
    return Succeed();
}

Reply WriteCommand(const Request& request) {
    DWORD error = 0;
    Channel* channel = OpenChannel(request, &error);
    if (!channel) return Fail(error);
    uint32_t key = RequestPortKey(request);
    std::string bytes(request.Input.begin() + sizeof(CommandWriteRecord), request.Input.end());
    control::PushBytes(key, kDirectionTx, bytes);
    std::string reply;
    channel->Modem.Receive(bytes, DriverClockMilliseconds(), &reply);
    Deliver(key, *channel, reply);
    ScheduleModem(key, *channel);
    return SucceedWritten(static_cast<DWORD>(bytes.size()));
}

// Returns at once with what has arrived, never more than the size offered.
Reply ReadResponse(const Request& request) {
    DWORD error = 0;
    Channel* channel = OpenChannel(request, &error);
    if (!channel) return Fail(error);
    size_t count = channel->Unread.size() < request.OutputSize ? channel->Unread.size() : request.OutputSize;
    std::vector<uint8_t> bytes(channel->Unread.begin(), channel->Unread.begin() + static_cast<std::ptrdiff_t>(count));
    channel->Unread.erase(0, count);
    return Succeed(std::move(bytes));
}

// The program's word that the guard time after "+++" has passed: the modem
// takes a waiting escape at once.
Reply EscapeFollowup(const Request& request) {
    if (request.Input.size() != sizeof(PortFlagsRecord)) return Fail(ERROR_INVALID_PARAMETER);
    DWORD error = 0;
    Channel* channel = OpenChannel(request, &error);
    if (!channel) return Fail(error);
    std::string reply;
    channel->Modem.ConfirmEscape(&reply);
    uint32_t key = RequestPortKey(request);
    Deliver(key, *channel, reply);
    ScheduleModem(key, *channel);
    return Succeed();
}

}  // namespace

void InstallCommandChannel() {
    SetRequestHandler(IOCTL_LINE_SET_COMMAND_MODE, SetCommandMode);
    SetRequestHandler(IOCTL_LINE_WRITE_COMMAND, WriteCommand);
    SetRequestHandler(IOCTL_LINE_READ_RESPONSE, ReadResponse);
    SetRequestHandler(IOCTL_LINE_ESCAPE_FOLLOWUP, EscapeFollowup);
}

void ForgetCommandChannel(uint32_t portKey) { Channels().erase(portKey); }

void ResetCommandChannels() {
    DriverGuard guard(DriverLock());
    Channels().clear();
}

namespace control {

bool IsCommandChannelOpen(uint32_t portKey) {
    DriverGuard guard(DriverLock());
    auto found = Channels().find(portKey);
    return found != Channels().end() && found->second.Open;
}

}  // namespace control
}  // namespace emu
