// How a feed line works: one thread per feed reads it with one overlapped
// read at a time and waits for it or for the stop; after a short read it
// lets the feed gather for a moment before the next. It keeps the feed's
// ports by their number: a tap's port 0 arrives with the hello, a watch's
// ports with their arrival records, and each leaves with its leave record
// or the feed's end. Each whole record goes to the port of its number
// (dropped when there is none) and into its capture as the ring makes room
// (feed_port.h); meanwhile the feed is not read, and what comes waits in
// the feeding program's queue; only beyond that does it drop records (and
// say so in the feed). A tap's command channel is written by the program's
// requests themselves (tap_commands.h).
//
// Fields that two threads touch are marked in FeedLine and FeedPort, with
// who writes and who reads them.
#include "emulator/lines/feed_line.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/formats/port_arrival.h"
#include "emulator/formats/tap_feed.h"
#include "emulator/lines/feed_port.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/lines/running_lines.h"
#include "system/scoped_handles.h"

namespace emu {
namespace {

constexpr DWORD kOpenRetryMs = 500;   // a feed that cannot be opened yet is tried again this often
constexpr DWORD kCancelEndMs = 2000;  // a cancelled read gets this long to end
constexpr DWORD kReadBytes = 262144;  // the most one read takes (the tap's FIFO holds 1 MiB)
// After a read that took less than a quarter of that, the feed is left to
// gather this long: a busy line is then read in fewer, larger pieces, and
// this thread, the capture thread and the main thread wake less often for
// the same bytes. What comes meanwhile waits in the FIFO and the program's
// queue, which hold many milliseconds of the fastest line.
constexpr DWORD kGatherMs = 1;
constexpr DWORD kAttachLookMs = 20;   // records wait for a capture's attach: looked at this often

struct FeedLine : RunningLine {
    void Run() override;

    // Written before the thread starts; a tap's Kind (tap or sniffer) by
    // the thread at the hello, and read by it alone.
    scenario::Port Plan;
    // A tap's command FIFO: opened by the thread before its port arrives,
    // written by the program's requests through the port while the port is
    // there (FeedPort::Commands), closed with the line after its ports have
    // gone.
    quorvel::ScopedHandle Commands;

    // The thread's alone:
    bool Greeted = false;  // the hello has come
    std::map<uint16_t, std::unique_ptr<FeedPort>> Ports;  // by their number in the feed
};

bool IsWatch(const FeedLine& line) { return line.Plan.Kind == scenario::PortKind::Watch; }

void Report(const FeedLine& line, const std::string& what) {
    std::string text = "Quorvel stand-in feed " + line.Plan.Name + " (" + line.Plan.OtherName + "): " + what + "\n";
    OutputDebugStringA(text.c_str());
}

// ---- The feed's ports -----------------------------------------------------

// The port of that number leaves, if the feed has it.
void RemovePort(FeedLine& line, uint16_t number) {
    auto found = line.Ports.find(number);
    if (found == line.Ports.end()) return;
    LeaveFeedPort(*found->second);
    line.Ports.erase(found);
}

// A port of that number arrives; one of the same number that never left
// goes first (a new port, as a device opened again).
void AddPort(FeedLine& line, uint16_t number, const PortBlobs& blobs, HANDLE commands) {
    RemovePort(line, number);
    auto port = std::make_unique<FeedPort>();
    port->Commands = commands;
    ArriveFeedPort(*port, blobs);
    line.Ports[number] = std::move(port);
}

// The hello: a tap's port (a sniffer's) arrives with it, a watch's come
// after it. False when the feed is not of the kind that the statement
// named: the line reads no more of it.
bool Greet(FeedLine& line, const std::string& payload) {
    if (line.Greeted || payload.empty()) return true;
    uint8_t mode = static_cast<uint8_t>(payload[0]);
    if ((mode == tapfeed::kModeWatch) != IsWatch(line)) {
        Report(line, IsWatch(line) ? "its feed is a tap's, not a watch's" : "its feed is a watch's, not a tap's");
        return false;
    }
    line.Greeted = true;
    if (IsWatch(line)) return true;
    bool sniff = mode == tapfeed::kModeSniff;
    line.Plan.Kind = sniff ? scenario::PortKind::Sniff : scenario::PortKind::Tap;
    AddPort(line, 0, PortBlobsFor(line.Plan), sniff ? nullptr : line.Commands.Get());
    return true;
}

// A watch's port arrives with the properties of the record's payload; one
// without a name, or numbered 0, is reported and ignored.
void ArriveWatched(FeedLine& line, uint16_t number, const std::string& payload) {
    if (!line.Greeted || !IsWatch(line)) return;  // a tap's port arrives with its hello
    tapfeed::PortArrival arrival;
    std::string problem = "a watch numbers its ports from 1";
    if (number == 0 || !tapfeed::ReadPortArrival(payload, &arrival, &problem)) {
        Report(line, "port " + std::to_string(number) + " ignored: " + problem);
        return;
    }
    AddPort(line, number, WatchedPortBlobs(arrival, number), nullptr);
}

// One whole record of the feed; false when the line reads no more (the
// stop came while it waited for room, or the feed is of the wrong kind).
bool Take(FeedLine& line, const tapfeed::FeedHeader& header, const std::string& payload) {
    switch (header.Kind) {
        case tapfeed::kHello: return Greet(line, payload);
        case tapfeed::kPortArrived: ArriveWatched(line, header.Port, payload); return true;
        case tapfeed::kPortLeft: RemovePort(line, header.Port); return true;
        default: break;
    }
    auto found = line.Ports.find(header.Port);
    if (found == line.Ports.end()) return true;  // no such port (it has left, or never came): dropped
    return TakeFeedRecord(*found->second, line.Stop.Get(), header, payload);
}

bool AnyWaiting(const FeedLine& line) {
    for (const auto& [number, port] : line.Ports) {
        if (!port->Waiting.empty()) return true;
    }
    return false;
}

// Every port passes on what waited for its capture's attach, once attached.
void PassWaiting(FeedLine& line) {
    for (auto& [number, port] : line.Ports) {
        if (!PassWaitingRecords(*port, line.Stop.Get())) return;
    }
}

// ---- Reading the feed ---------------------------------------------------

// The feed's one read at a time, and how it ended.
struct FeedRead {
    OVERLAPPED Overlapped = {};
    bool Outstanding = false;
};

enum class ReadEnd { Bytes, Ended, Stopped, Waited };

// Issues the read unless one is outstanding, and waits for it, the stop, or
// (while records wait for an attach) a short while.
ReadEnd ReadFeed(FeedLine& line, HANDLE feed, char* buffer, HANDLE readEvent, FeedRead& read, DWORD* count) {
    if (!read.Outstanding) {
        read.Overlapped = OVERLAPPED{};
        read.Overlapped.hEvent = readEvent;
        ResetEvent(readEvent);
        if (ReadFile(feed, buffer, kReadBytes, count, &read.Overlapped)) return *count ? ReadEnd::Bytes : ReadEnd::Ended;
        if (GetLastError() != ERROR_IO_PENDING) return ReadEnd::Ended;
        read.Outstanding = true;
    }
    HANDLE handles[2] = {line.Stop.Get(), readEvent};
    DWORD limit = AnyWaiting(line) ? kAttachLookMs : INFINITE;
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

HANDLE OpenFifo(const FeedLine& line, const char* name, DWORD access) {
    std::string path = line.Plan.OtherName + "\\" + name;
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

// Opens the feed (and a tap's command FIFO), trying again while the
// program has not made them yet; false when the stop came first.
bool OpenFifos(FeedLine& line, quorvel::ScopedHandle* feed) {
    bool watch = IsWatch(line);
    for (;;) {
        feed->Reset(OpenFifo(line, tapfeed::kFeedName, GENERIC_READ));
        if (!watch) line.Commands.Reset(OpenFifo(line, tapfeed::kCommandsName, GENERIC_WRITE));
        if (*feed && (watch || line.Commands)) return true;
        Report(line, "its feed cannot be opened (error " + std::to_string(GetLastError()) + "); trying again");
        if (WaitForSingleObject(line.Stop.Get(), kOpenRetryMs) != WAIT_TIMEOUT) return false;
    }
}

// Hands every whole record that the bytes complete to its port; false when
// the line reads no more.
bool TakeRecords(FeedLine& line, tapfeed::FeedReader& reader, const char* bytes, DWORD count) {
    reader.Add(bytes, count);
    tapfeed::FeedHeader header;
    std::string payload;
    while (reader.Next(&header, &payload)) {
        if (!Take(line, header, payload)) return false;
    }
    if (reader.Broken()) Report(line, "its feed broke: a record that no feeding program writes");
    return !reader.Broken();
}

}  // namespace

void FeedLine::Run() {
    FeedLine& line = *this;
    quorvel::ScopedHandle feed;
    quorvel::ScopedHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::vector<char> buffer(kReadBytes);
    if (readEvent && OpenFifos(line, &feed)) {
        tapfeed::FeedReader reader;
        FeedRead read;
        for (;;) {
            DWORD count = 0;
            ReadEnd end = ReadFeed(line, feed.Get(), buffer.data(), readEvent.Get(), read, &count);
            if (end == ReadEnd::Waited) {
                PassWaiting(line);  // the read is still outstanding: after a stop, the next wait ends it
                continue;
            }
            // The program has gone, the stop came, or the feed cannot be read on.
            if (end != ReadEnd::Bytes || !TakeRecords(line, reader, buffer.data(), count)) break;
            if (count < kReadBytes / 4 && WaitForSingleObject(line.Stop.Get(), kGatherMs) != WAIT_TIMEOUT) break;
        }
    }
    for (auto& [number, port] : line.Ports) LeaveFeedPort(*port);
    line.Ports.clear();
}

void StartFeedLine(const scenario::Port& plan) {
    auto* line = new FeedLine;
    line->Plan = plan;
    StartRunningLine(line);
}

}  // namespace emu
