#include "emulator/lines/feed_port.h"

#include <string_view>

#include "emulator/drivers/command_channel.h"
#include "emulator/drivers/filter_driver.h"
#include "emulator/kernel/device_core.h"
#include "emulator/lines/running_lines.h"
#include "emulator/lines/tap_commands.h"
#include "wire/capture_records.h"

namespace emu {
namespace {

constexpr DWORD kRoomLookMs = 2;          // a full ring is looked at again this often
constexpr size_t kMostWaiting = 1 << 20;  // bytes of records that wait for the attach at most
// Events come as records of their own direction code, so that each shows
// as a line without a prefix; two codes in turn keep two events in a row
// apart.
constexpr uint8_t kEventCodes[2] = {4, 5};

// ---- The command channel's side -----------------------------------------

FeedPort& PortOf(EmulatedPort& port) { return *static_cast<FeedPort*>(port.Line.Instance); }

bool SetChannel(EmulatedPort& port, bool open) {
    HANDLE commands = PortOf(port).Commands;
    if (!commands) return false;  // a sniffed or watched line is never written to
    return SendCommand(commands, open ? tapfeed::kOpen : tapfeed::kClose, {});
}

uint32_t Write(EmulatedPort& port, const std::string& bytes) {
    HANDLE commands = PortOf(port).Commands;
    return commands && SendCommand(commands, tapfeed::kWrite, bytes) ? static_cast<uint32_t>(bytes.size()) : 0;
}

// The device keeps its own guard time; the program's word changes nothing.
void ConfirmEscape(EmulatedPort&) {}

void Release(EmulatedPort& port) {
    FeedPort& fed = PortOf(port);
    if (fed.Key == port.Key) fed.Key = 0;
}

// The tap records the terminal's bytes itself, when they go to the device.
constexpr LineOps kFeedPortOps = {SetChannel, Write, ConfirmEscape, Release, true};

// ---- The feed's side ------------------------------------------------------

// The direction code of a record's bytes: TX, RX (the device's answers
// too), or the next of the two event codes.
uint8_t CodeOf(FeedPort& port, const tapfeed::FeedHeader& header) {
    if (header.Kind != tapfeed::kEvent) {
        return header.Kind == tapfeed::kTx ? quorvel::kDirectionTx : quorvel::kDirectionRx;
    }
    uint8_t code = kEventCodes[port.NextEventCode];
    port.NextEventCode ^= 1;
    return code;
}

// Passes the front of the payload that the port's ring takes now, and
// drops it all when the port or its capture has gone; true when nothing is
// left to wait for room.
bool PassWhatFits(FeedPort& fed, const tapfeed::FeedHeader& header, uint8_t code, std::string_view* payload) {
    DriverGuard guard(DriverLock());
    EmulatedPort* port = FindPort(fed.Key);
    if (!port || !port->Capture.Ring) return true;
    std::string_view piece = payload->substr(0, RecordsThatFit(*port, code));
    if (header.Kind == tapfeed::kAnswer && port->Channel.Open) {
        ChannelReceives(*port, piece, header.Microseconds);  // the terminal's answer; recorded as RX too
    } else {
        BytesPassed(*port, code, piece, header.Microseconds);
    }
    payload->remove_prefix(piece.size());
    return payload->empty();
}

// One whole record into the port, behind those before it: what fits, then
// the rest as the capture thread makes room, never with the driver lock
// held while waiting. False when the stop came first.
bool Record(FeedPort& port, HANDLE stop, const tapfeed::FeedHeader& header, std::string_view payload) {
    uint8_t code = CodeOf(port, header);
    while (!PassWhatFits(port, header, code, &payload)) {
        if (WaitForSingleObject(stop, kRoomLookMs) != WAIT_TIMEOUT) return false;
    }
    return true;
}

// What became of the records that waited for the capture's attach.
enum class Backlog { Passed, Waiting, Stopped };

Backlog PassWaiting(FeedPort& fed, HANDLE stop) {
    if (fed.Waiting.empty()) return Backlog::Passed;
    {
        DriverGuard guard(DriverLock());
        EmulatedPort* port = FindPort(fed.Key);
        if (port && !port->Capture.Ring) return Backlog::Waiting;
    }
    bool stopped = false;
    for (const auto& [header, payload] : fed.Waiting) {
        if (!Record(fed, stop, header, payload)) {
            stopped = true;
            break;
        }
    }
    fed.Waiting.clear();
    fed.WaitingBytes = 0;
    return stopped ? Backlog::Stopped : Backlog::Passed;
}

void KeepWaiting(FeedPort& port, const tapfeed::FeedHeader& header, const std::string& payload) {
    if (port.WaitingBytes + payload.size() > kMostWaiting) return;
    port.Waiting.emplace_back(header, payload);
    port.WaitingBytes += payload.size();
}

}  // namespace

void ArriveFeedPort(FeedPort& port, const PortBlobs& blobs) { ArriveLinePort(blobs, &kFeedPortOps, &port, &port.Key); }

void LeaveFeedPort(FeedPort& port) { LeaveLinePort(&port.Key); }

bool TakeFeedRecord(FeedPort& fed, HANDLE stop, const tapfeed::FeedHeader& header, const std::string& payload) {
    Backlog backlog = PassWaiting(fed, stop);
    if (backlog == Backlog::Stopped) return false;
    if (backlog == Backlog::Waiting) {
        KeepWaiting(fed, header, payload);
        return true;
    }
    {
        DriverGuard guard(DriverLock());
        EmulatedPort* port = FindPort(fed.Key);
        if (!port) return true;
        if (!port->Capture.Ring) {
            KeepWaiting(fed, header, payload);
            return true;
        }
    }
    return Record(fed, stop, header, payload);
}

bool PassWaitingRecords(FeedPort& port, HANDLE stop) { return PassWaiting(port, stop) != Backlog::Stopped; }

}  // namespace emu
