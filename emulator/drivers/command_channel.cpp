#include "emulator/drivers/command_channel.h"

#include "wire/request_codes.h"
#include "emulator/kernel/device_core.h"
#include "emulator/drivers/filter_driver.h"
#include "wire/capture_records.h"
#include "wire/port_control_records.h"

namespace emu {
namespace {

using namespace quorvel;

// What the far end has sent and the program has not read yet; beyond this
// the newest bytes are lost, as in a serial port's full input buffer.
constexpr size_t kMaxUnread = 65536;

// The port of the request, with its channel open; null (then fail with
// *error) otherwise.
EmulatedPort* PortWithOpenChannel(const Request& request, DWORD* error) {
    if (request.Input.size() < 4) {
        *error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    EmulatedPort* port = FindPort(RequestPortKey(request));
    if (!port || !port->Channel.Open) {
        *error = port ? ERROR_NOT_READY : ERROR_DEV_NOT_EXIST;
        return nullptr;
    }
    return port;
}

Reply SetCommandMode(const Request& request) {
    CommandModeRecord record;
    DWORD error = 0;
    if (!ReadPortRecord(request, &record, &error)) return Fail(error);
    EmulatedPort& port = *FindPort(record.PortKey);
    bool open = record.Enable != 0;
    if (!port.Line.Ops->SetChannel(port, open)) return Fail(ERROR_NOT_SUPPORTED);
    port.Channel.Open = open;
    port.Channel.Unread.clear();  // a fresh opening starts with nothing unread
    return Succeed();
}

Reply WriteCommand(const Request& request) {
    DWORD error = 0;
    EmulatedPort* port = PortWithOpenChannel(request, &error);
    if (!port) return Fail(error);
    std::string bytes(request.Input.begin() + sizeof(CommandWriteRecord), request.Input.end());
    if (!port->Line.Ops->RecordsCommands) BytesPassed(*port, kDirectionTx, bytes, TicksNow(*port));
    return SucceedWritten(port->Line.Ops->Write(*port, bytes));
}

// Returns at once with what has arrived, never more than the size offered.
Reply ReadResponse(const Request& request) {
    DWORD error = 0;
    EmulatedPort* port = PortWithOpenChannel(request, &error);
    if (!port) return Fail(error);
    std::string& unread = port->Channel.Unread;
    size_t count = unread.size() < request.OutputSize ? unread.size() : request.OutputSize;
    std::vector<uint8_t> bytes(unread.begin(), unread.begin() + static_cast<std::ptrdiff_t>(count));
    unread.erase(0, count);
    return Succeed(std::move(bytes));
}

// The program's word that the guard time after "+++" has passed.
Reply EscapeFollowup(const Request& request) {
    DWORD error = 0;
    EmulatedPort* port = PortWithOpenChannel(request, &error);
    if (!port) return Fail(error);
    port->Line.Ops->ConfirmEscape(*port);
    return Succeed();
}

}  // namespace

void InstallCommandChannel() {
    SetRequestHandler(IOCTL_LINE_SET_COMMAND_MODE, SetCommandMode);
    SetRequestHandler(IOCTL_LINE_WRITE_COMMAND, WriteCommand);
    SetRequestHandler(IOCTL_LINE_READ_RESPONSE, ReadResponse);
    SetRequestHandler(IOCTL_LINE_ESCAPE_FOLLOWUP, EscapeFollowup);
}

void ChannelReceives(EmulatedPort& port, std::string_view bytes, uint64_t timestamp) {
    if (!port.Channel.Open || bytes.empty()) return;
    std::string& unread = port.Channel.Unread;
    size_t room = kMaxUnread - unread.size();
    unread.append(bytes.substr(0, bytes.size() < room ? bytes.size() : room));
    BytesPassed(port, kDirectionRx, bytes, timestamp);
}

}  // namespace emu
