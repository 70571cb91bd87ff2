// How a tap line works: one thread per tap reads the feed with one
// overlapped read at a time and waits for it or for the stop; each whole
// record goes into the port's capture as the ring makes room for it: what
// fits at once, then the rest in short steps that also watch the stop, the
// driver lock held for each step only. Meanwhile the feed is not read, and
// what comes waits in the tap's feed queue; only beyond that does the tap
// drop records (and say so in the feed). The command channel's requests
// (the program's, under the driver lock) write their records into the
// command FIFO with a bounded wait of their own.
//
// Fields that two threads touch are marked in TapLine, with who writes and
// who reads them.
#include "emulator/lines/tap_line.h"

#include <windows.h>

#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator/drivers/command_channel.h"
#include "emulator/drivers/control_driver.h"
#include "emulator/kernel/device_core.h"
#include "emulator/drivers/filter_driver.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/lines/running_lines.h"
#include "emulator/formats/tap_feed.h"
#include "system/scoped_handles.h"
#include "wire/capture_records.h"

namespace emu {
namespace {

constexpr DWORD kOpenRetryMs = 500;       // a feed that cannot be opened yet is tried again this often
constexpr DWORD kCommandWriteMs = 1000;   // a command record gets this long to go into its FIFO
constexpr DWORD kCancelEndMs = 2000;      // a cancelled read gets this long to end
constexpr DWORD kReadBytes = 65536;
constexpr DWORD kAttachLookMs = 20;       // records wait for the capture's attach: looked at this often
constexpr DWORD kRoomLookMs = 2;          // a full ring is looked at again this often
constexpr size_t kMostWaiting = 1 << 20;  // bytes of records that wait for it at most
// Events come as records of their own direction code, so that each shows
// as a line without a prefix; two codes in turn keep two events in a row
// apart.
constexpr uint8_t kEventCodes[2] = {4, 5};

struct TapLine : RunningLine {
    void Run() override;

    scenario::Port Plan;  // written before the thread starts; its Kind by the thread before the arrival
    quorvel::ScopedHandle Commands;  // the command FIFO: opened by the thread before the arrival,
                                     // written by the program's requests while the port is there

    // The thread's alone:
    uint8_t NextEventCode = 0;
    // Records that came before the port's capture was attached: the first
    // settings and events come with the arrival, before anyone listens.
    std::deque<std::pair<tapfeed::FeedHeader, std::string>> Waiting;
    size_t WaitingBytes = 0;
};

void Report(const TapLine& line, const std::string& what) {
    std::string text = "Quorvel stand-in tap line " + line.Plan.Name + ": " + what + "\n";
    OutputDebugStringA(text.c_str());
}

// ---- The command channel's side -----------------------------------------

TapLine& LineOf(EmulatedPort& port) { return *static_cast<TapLine*>(port.Line.Instance); }

// One write into the command FIFO, on the heap: a write that does not end
// after its cancel keeps its memory for good.
struct CommandWrite {
    std::string Record;
    OVERLAPPED Overlapped = {};
    quorvel::ScopedHandle Event;
};

// Writes one record into the command FIFO; false when it did not all go.
bool SendCommand(TapLine& line, tapfeed::CommandKind kind, const std::string& payload) {
    auto* write = new CommandWrite;
    write->Record = tapfeed::CommandRecord(kind, payload);
    write->Event.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    write->Overlapped.hEvent = write->Event.Get();
    HANDLE fifo = line.Commands.Get();
    DWORD size = static_cast<DWORD>(write->Record.size());
    DWORD written = 0;
    bool done = write->Event && WriteFile(fifo, write->Record.data(), size, &written, &write->Overlapped);
    if (!done && write->Event && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(write->Event.Get(), kCommandWriteMs) != WAIT_OBJECT_0) {
            CancelIo(fifo);
            if (WaitForSingleObject(write->Event.Get(), kCancelEndMs) != WAIT_OBJECT_0) return false;  // kept
        }
        done = GetOverlappedResult(fifo, &write->Overlapped, &written, FALSE) != FALSE;
    }
    delete write;
    return done && written == size;
}

bool SetChannel(EmulatedPort& port, bool open) {
    TapLine& line = LineOf(port);
    if (line.Plan.Kind == scenario::PortKind::Sniff) return false;  // nothing is ever written to a sniffed line
    return SendCommand(line, open ? tapfeed::kOpen : tapfeed::kClose, {});
}

uint32_t Write(EmulatedPort& port, const std::string& bytes) {
    return SendCommand(LineOf(port), tapfeed::kWrite, bytes) ? static_cast<uint32_t>(bytes.size()) : 0;
}

// The device keeps its own guard time; the program's word changes nothing.
void ConfirmEscape(EmulatedPort&) {}

void Release(EmulatedPort& port) {
    TapLine& line = LineOf(port);
    if (line.PortKey == port.Key) line.PortKey = 0;
}

// The tap records the terminal's bytes itself, when they go to the device.
constexpr LineOps kTapLineOps = {SetChannel, Write, ConfirmEscape, Release, true};

// ---- The feed's side ------------------------------------------------------

HANDLE OpenFifo(const TapLine& line, const char* name, DWORD access) {
    std::string path = line.Plan.OtherName + "\\" + name;
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

// The port arrives with the feed's first record, as its mode says; its
// times are the feed's microseconds.
void Arrive(TapLine& line, uint8_t mode) {
    line.Plan.Kind = mode == tapfeed::kModeSniff ? scenario::PortKind::Sniff : scenario::PortKind::Tap;
    line.ArriveAsPort(line.Plan, &kTapLineOps, &line);
}

// The direction code of a record's bytes: TX, RX (the device's answers
// too), or the next of the two event codes.
uint8_t CodeOf(TapLine& line, const tapfeed::FeedHeader& header) {
    if (header.Kind != tapfeed::kEvent) return header.Kind == tapfeed::kTx ? quorvel::kDirectionTx : quorvel::kDirectionRx;
    uint8_t code = kEventCodes[line.NextEventCode];
    line.NextEventCode ^= 1;
    return code;
}

// Passes the front of the payload that the port's ring takes now, and
// drops it all when the port or its capture has gone; true when nothing is
// left to wait for room.
bool PassWhatFits(TapLine& line, const tapfeed::FeedHeader& header, uint8_t code, std::string_view* payload) {
    DriverGuard guard(DriverLock());
    EmulatedPort* port = FindPort(line.PortKey);
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
bool Record(TapLine& line, const tapfeed::FeedHeader& header, std::string_view payload) {
    uint8_t code = CodeOf(line, header);
    while (!PassWhatFits(line, header, code, &payload)) {
        if (WaitForSingleObject(line.Stop.Get(), kRoomLookMs) != WAIT_TIMEOUT) return false;
    }
    return true;
}

// What became of the records that waited for the capture's attach.
enum class Backlog { Passed, Waiting, Stopped };

// Passes on the records that waited, once the capture is attached (they
// are dropped when the port has gone).
Backlog PassWaiting(TapLine& line) {
    if (line.Waiting.empty()) return Backlog::Passed;
    {
        DriverGuard guard(DriverLock());
        EmulatedPort* port = FindPort(line.PortKey);
        if (port && !port->Capture.Ring) return Backlog::Waiting;
    }
    bool stopped = false;
    for (const auto& [header, payload] : line.Waiting) {
        if (!Record(line, header, payload)) {
            stopped = true;
            break;
        }
    }
    line.Waiting.clear();
    line.WaitingBytes = 0;
    return stopped ? Backlog::Stopped : Backlog::Passed;
}

void KeepWaiting(TapLine& line, const tapfeed::FeedHeader& header, const std::string& payload) {
    if (line.WaitingBytes + payload.size() > kMostWaiting) return;
    line.Waiting.emplace_back(header, payload);
    line.WaitingBytes += payload.size();
}

// One whole record of the feed into the port; false when the stop came
// while it waited for room.
bool Take(TapLine& line, const tapfeed::FeedHeader& header, const std::string& payload) {
    if (header.Kind == tapfeed::kHello) {
        if (!line.PortKey && !payload.empty()) Arrive(line, static_cast<uint8_t>(payload[0]));
        return true;
    }
    Backlog backlog = PassWaiting(line);
    if (backlog == Backlog::Stopped) return false;
    if (backlog == Backlog::Waiting) {
        KeepWaiting(line, header, payload);
        return true;
    }
    {
        DriverGuard guard(DriverLock());
        EmulatedPort* port = FindPort(line.PortKey);
        if (!port) return true;
        if (!port->Capture.Ring) {
            KeepWaiting(line, header, payload);
            return true;
        }
    }
    return Record(line, header, payload);
}

// The feed's one read at a time, and how it ended.
struct FeedRead {
    OVERLAPPED Overlapped = {};
    bool Outstanding = false;
};

enum class ReadEnd { Bytes, Ended, Stopped, Waited };

// Issues the read unless one is outstanding, and waits for it, the stop, or
// (while records wait for the attach) a short while.
ReadEnd ReadFeed(TapLine& line, HANDLE feed, char* buffer, HANDLE readEvent, FeedRead& read, DWORD* count) {
    if (!read.Outstanding) {
        read.Overlapped = OVERLAPPED{};
        read.Overlapped.hEvent = readEvent;
        ResetEvent(readEvent);
        if (ReadFile(feed, buffer, kReadBytes, count, &read.Overlapped)) return *count ? ReadEnd::Bytes : ReadEnd::Ended;
        if (GetLastError() != ERROR_IO_PENDING) return ReadEnd::Ended;
        read.Outstanding = true;
    }
    HANDLE handles[2] = {line.Stop.Get(), readEvent};
    DWORD limit = line.Waiting.empty() ? INFINITE : kAttachLookMs;
    DWORD which = WaitForMultipleObjects(2, handles, FALSE, limit);
    if (which == WAIT_TIMEOUT) return ReadEnd::Waited;
    if (which == WAIT_OBJECT_0) {
        CancelIo(feed);
        if (WaitForSingleObject(readEvent, kCancelEndMs) == WAIT_OBJECT_0) read.Outstanding = false;
        else line.ReadLeftRunning = true;
        return ReadEnd::Stopped;
    }
    read.Outstanding = false;
    if (!GetOverlappedResult(feed, &read.Overlapped, count, FALSE)) return ReadEnd::Ended;
    return *count ? ReadEnd::Bytes : ReadEnd::Ended;
}

// Opens the feed and the command FIFO, trying again while the tap has not
// made them yet; false when the stop came first.
bool OpenFifos(TapLine& line, quorvel::ScopedHandle* feed) {
    for (;;) {
        feed->Reset(OpenFifo(line, tapfeed::kFeedName, GENERIC_READ));
        line.Commands.Reset(OpenFifo(line, tapfeed::kCommandsName, GENERIC_WRITE));
        if (*feed && line.Commands) return true;
        Report(line, "its feed cannot be opened (error " + std::to_string(GetLastError()) + "); trying again");
        if (WaitForSingleObject(line.Stop.Get(), kOpenRetryMs) != WAIT_TIMEOUT) return false;
    }
}

}  // namespace

void TapLine::Run() {
    TapLine& line = *this;
    quorvel::ScopedHandle feed;
    quorvel::ScopedHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::vector<char> buffer(kReadBytes);
    if (!readEvent || !OpenFifos(line, &feed)) return;
    tapfeed::FeedReader reader;
    FeedRead read;
    for (;;) {
        DWORD count = 0;
        ReadEnd end = ReadFeed(line, feed.Get(), buffer.data(), readEvent.Get(), read, &count);
        if (end == ReadEnd::Waited) {
            PassWaiting(line);  // the read is still outstanding: after a stop, the next wait ends it
            continue;
        }
        if (end != ReadEnd::Bytes) break;  // the tap has gone, or the stop came
        reader.Add(buffer.data(), count);
        tapfeed::FeedHeader header;
        std::string payload;
        bool stopped = false;
        while (!stopped && reader.Next(&header, &payload)) stopped = !Take(line, header, payload);
        if (stopped) break;
        if (reader.Broken()) {
            Report(line, "its feed broke: a record that no tap writes");
            break;
        }
    }
    line.LeaveAsPort();
}

void StartTapLine(const scenario::Port& plan) {
    auto* line = new TapLine;
    line->Plan = plan;
    StartRunningLine(line);
}

}  // namespace emu
