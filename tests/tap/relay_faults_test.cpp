// The relay's failure paths, one table, without a pty: its table of calls
// is a fake line whose device, application side and feed fail as the row
// says, and each row walks the relay through the failure and back.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "emulator/formats/tap_feed.h"
#include "tap/relay.h"

namespace {

using namespace tap;

enum FakeFd { kDevice = 10, kMaster = 11, kFeed = 12, kCommands = 13, kStop = 14, kWatch = 15, kApplying = 16 };

// What one write to the device does: take this many bytes (all when -1),
// or fail with an error.
struct WriteStep {
    int Takes = -1;
    int Error = 0;
};

// A fake line: what each end holds for the relay to read, what the relay
// wrote to it, and how it fails. The master gives its status bytes ahead of
// its data, as the kernel does.
struct FakeLine {
    std::string DeviceIn, DeviceOut, ApplicationIn, ApplicationOut, Feed, Commands;
    std::deque<WriteStep> DeviceWrites;  // scripted; afterwards every write takes all
    int DeviceWriteCalls = 0;
    bool DeviceGone = false;       // its reads fail with EIO, poll says POLLHUP
    bool DeviceBack = false;       // opening it again works
    bool DeviceFull = false;       // its writes wait (EAGAIN)
    bool ApplicationOpen = true;
    bool ApplicationHungUp = false;  // the master says POLLHUP, reads fail with EIO once empty
    bool ApplicationFull = false;    // writes to the master wait (EAGAIN)
    bool ApplicationFlushed = false;
    std::deque<uint8_t> Statuses;    // status bytes waiting on the master
    termios Settings = RawSettings(B115200);  // the application's, as the master reads them
    bool FeedFull = false;
    bool WatchReadable = false;
    bool CommandsHungUp = false;   // the command FIFO's writer has gone
    int Reopened = 0;
    bool Drained = true;           // a change waiting for the device is done at once
    bool Refuse = false;           // the device refuses the changes
    LineSettings Asked;            // the change that waits for the device
    std::vector<std::string> Log;  // "TX bytes" and "SET speed", in the device's order
    bool Counted = true;  // the device keeps error counts
    ErrorCounts Counts;
    uint64_t NowUs = 1000000;

    static termios RawSettings(speed_t speed) {
        termios record{};
        cfsetospeed(&record, speed);
        record.c_lflag = EXTPROC;
        return record;
    }
};

FakeLine* g_line = nullptr;

ssize_t Fail(int error) {
    errno = error;
    return -1;
}

ssize_t Take(std::string& from, void* to, size_t room) {
    size_t count = from.size() < room ? from.size() : room;
    std::memcpy(to, from.data(), count);
    from.erase(0, count);
    return static_cast<ssize_t>(count);
}

ssize_t ReadMaster(FakeLine& line, char* bytes, size_t size) {
    if (!line.Statuses.empty()) {
        bytes[0] = static_cast<char>(line.Statuses.front());
        line.Statuses.pop_front();
        return 1;
    }
    if (line.ApplicationIn.empty() && line.ApplicationHungUp) return Fail(EIO);
    if (line.ApplicationIn.empty() && size > 1) return Fail(EAGAIN);
    bytes[0] = TIOCPKT_DATA;  // packet mode: the data comes behind a zero byte
    return 1 + Take(line.ApplicationIn, bytes + 1, size - 1);
}

ssize_t FakeRead(int fd, void* buffer, size_t size) {
    FakeLine& line = *g_line;
    char* bytes = static_cast<char*>(buffer);
    switch (fd) {
        case kDevice:
            if (line.DeviceGone) return Fail(EIO);
            return line.DeviceIn.empty() ? Fail(EAGAIN) : Take(line.DeviceIn, bytes, size);
        case kMaster: return ReadMaster(line, bytes, size);
        case kCommands: return line.Commands.empty() ? Fail(EAGAIN) : Take(line.Commands, bytes, size);
        case kWatch: {
            if (!line.WatchReadable) return Fail(EAGAIN);
            line.WatchReadable = false;
            inotify_event event{};
            event.mask = IN_OPEN;
            std::memcpy(bytes, &event, sizeof(event));
            return sizeof(event);
        }
        case kApplying: {
            uint64_t outcome = line.Refuse ? kSettingsRefused : kSettingsApplied;
            if (!line.Refuse) line.Log.push_back("SET " + DescribeSettings(line.Asked));
            std::memcpy(bytes, &outcome, sizeof(outcome));
            return sizeof(outcome);
        }
        default: return Fail(EAGAIN);
    }
}

ssize_t WriteDevice(FakeLine& line, const char* bytes, size_t size) {
    ++line.DeviceWriteCalls;
    WriteStep step;
    if (line.DeviceFull) step.Error = EAGAIN;
    if (!line.DeviceWrites.empty()) {
        step = line.DeviceWrites.front();
        line.DeviceWrites.pop_front();
    }
    if (step.Error) return Fail(step.Error);
    size_t taken = step.Takes < 0 || static_cast<size_t>(step.Takes) > size ? size : static_cast<size_t>(step.Takes);
    line.DeviceOut.append(bytes, taken);
    if (taken) line.Log.push_back("TX " + std::string(bytes, taken));
    return static_cast<ssize_t>(taken);
}

ssize_t FakeWrite(int fd, const void* buffer, size_t size) {
    FakeLine& line = *g_line;
    const char* bytes = static_cast<const char*>(buffer);
    if (fd == kDevice) return WriteDevice(line, bytes, size);
    if (fd == kMaster) {
        if (line.ApplicationFull) return Fail(EAGAIN);
        line.ApplicationOut.append(bytes, size);
        return static_cast<ssize_t>(size);
    }
    if (fd == kFeed) {
        if (line.FeedFull) return Fail(EAGAIN);
        line.Feed.append(bytes, size);
        return static_cast<ssize_t>(size);
    }
    return Fail(EBADF);
}

short FakeEvents(const FakeLine& line, int fd) {
    switch (fd) {
        case kDevice:
            if (line.DeviceGone) return POLLHUP | POLLERR;
            return static_cast<short>((line.DeviceIn.empty() ? 0 : POLLIN) | (line.DeviceFull ? 0 : POLLOUT));
        case kMaster:
            return static_cast<short>((line.ApplicationHungUp ? POLLHUP : 0) | (line.Statuses.empty() ? 0 : POLLPRI | POLLIN) |
                                      (line.ApplicationIn.empty() ? 0 : POLLIN) | (line.ApplicationFull ? 0 : POLLOUT));
        case kFeed: return line.FeedFull ? 0 : POLLOUT;
        case kWatch: return line.WatchReadable ? POLLIN : 0;
        case kCommands: return static_cast<short>((line.Commands.empty() ? 0 : POLLIN) | (line.CommandsHungUp ? POLLHUP : 0));
        case kApplying: return line.Drained ? POLLIN : 0;
        default: return 0;
    }
}

int FakePoll(pollfd* fds, nfds_t count, int) {
    int ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
        fds[i].revents = static_cast<short>(FakeEvents(*g_line, fds[i].fd) & (fds[i].events | POLLHUP | POLLERR));
        ready += fds[i].revents != 0;
    }
    return ready;
}

int FakeOpen(const char*, bool) {
    if (!g_line->DeviceBack) return static_cast<int>(Fail(ENOENT));
    g_line->DeviceGone = false;
    return kDevice;
}
void FakeClose(int) {}
bool FakeApply(int, const LineSettings&) { return true; }
// A change waits for the device (Drained) and is then logged as taken, or
// refused (Refuse).
int FakeApplyWhenSent(int, const LineSettings& settings) {
    g_line->Asked = settings;
    return kApplying;
}
bool FakeTermios(int, termios* record) {
    *record = g_line->Settings;
    return true;
}
void FakeExtproc(int, bool on) {
    tcflag_t& flags = g_line->Settings.c_lflag;
    flags = on ? flags | EXTPROC : flags & ~static_cast<tcflag_t>(EXTPROC);
}
size_t FakeUnread(int fd) { return fd == kMaster ? g_line->ApplicationIn.size() : g_line->DeviceIn.size(); }
size_t FakeFlush(int) {
    g_line->ApplicationFlushed = true;
    return 0;
}
bool FakeOpenSide(int) { return g_line->ApplicationOpen; }
size_t FakeUnsent(int) { return 0; }
void FakeFlushDevice(int) {}
bool FakeLines(int, int*) { return false; }
bool FakeCounts(int, ErrorCounts* counts) {
    *counts = g_line->Counts;
    return g_line->Counted;
}
bool FakeReopen(int) {
    g_line->CommandsHungUp = false;
    ++g_line->Reopened;
    return true;
}
uint64_t FakeNow() { return g_line->NowUs; }

const LineOps kFakeOps = {FakeRead,     FakeWrite,    FakePoll,     FakeOpen,      FakeClose,  FakeApply,
                          FakeApplyWhenSent, FakeTermios, FakeExtproc, FakeUnread, FakeFlush, FakeOpenSide,
                          FakeUnsent,   FakeFlushDevice, FakeFlushDevice, FakeLines, FakeCounts, FakeReopen, FakeNow};

// What the relay fed the monitor, record by record.
struct Fed {
    std::vector<std::string> Events;
    std::string Tx, Rx;
};

Fed ReadFeed(const std::string& bytes) {
    tapfeed::FeedReader reader;
    reader.Add(bytes.data(), bytes.size());
    Fed fed;
    tapfeed::FeedHeader header;
    std::string payload;
    while (reader.Next(&header, &payload)) {
        if (header.Kind == tapfeed::kEvent) fed.Events.push_back(payload);
        if (header.Kind == tapfeed::kTx) fed.Tx += payload;
        if (header.Kind == tapfeed::kRx) fed.Rx += payload;
    }
    EXPECT_FALSE(reader.Broken());
    return fed;
}

bool HasEvent(const Fed& fed, const std::string& text) {
    for (const std::string& event : fed.Events) {
        if (event == text) return true;
    }
    return false;
}

class Walk {
public:
    Walk() {
        g_line = &line;
        RelayConfig config;
        config.Device = kDevice;
        config.DevicePath = "/dev/fake";
        config.Master = kMaster;
        config.ApplicationWatch = kWatch;
        config.Feed = kFeed;
        config.Commands = kCommands;
        config.Stop = kStop;
        relay = std::make_unique<Relay>(config, kFakeOps);
    }
    ~Walk() { g_line = nullptr; }
    // Turns the relay until nothing is left to move (or 200 turns).
    void Turns() {
        for (int i = 0; i < 200; ++i) ASSERT_TRUE(relay->Turn(0));
    }
    // Time passes: the timers come due.
    void Later(uint64_t ms) {
        line.NowUs += ms * 1000;
        Turns();
    }
    // The application changes its settings: the master reports it ahead of
    // whatever it writes next.
    void Notice(speed_t speed, tcflag_t localFlags = 0) {
        line.Settings = FakeLine::RawSettings(speed);
        line.Settings.c_lflag |= localFlags;
        line.Statuses.push_back(TIOCPKT_IOCTL);
    }
    Fed Feed() { return ReadFeed(line.Feed); }

    FakeLine line;
    std::unique_ptr<Relay> relay;
};

struct FaultRow {
    const char* Name;
    std::function<void(Walk&)> Run;
};

const FaultRow kFaults[] = {
    {"a device write that fails at once: the device goes, once, and comes back",
     [](Walk& walk) {
         walk.line.DeviceWrites = {{.Error = EIO}};
         walk.line.ApplicationIn = "AT\r";
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceWriteCalls, 1) << "the failed write is not started again";
         EXPECT_TRUE(HasEvent(walk.Feed(), "[device gone]"));
         EXPECT_FALSE(walk.relay->DevicePresent());
         walk.line.ApplicationIn = "ATZ\r";  // while away: dropped, never delivered late
         walk.line.DeviceBack = true;
         walk.Later(600);
         EXPECT_TRUE(walk.relay->DevicePresent());
         Fed fed = walk.Feed();
         EXPECT_TRUE(HasEvent(fed, "[device back]"));
         EXPECT_TRUE(HasEvent(fed, "[7 bytes from the application dropped: the device was away]"));
         EXPECT_EQ(walk.line.DeviceOut, "");
         walk.line.ApplicationIn = "AT\r";
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceOut, "AT\r");
     }},
    {"EAGAIN: the bytes wait and go, once, in order",
     [](Walk& walk) {
         walk.line.DeviceWrites = {{.Error = EAGAIN}, {.Error = EAGAIN}};
         walk.line.ApplicationIn = "ATZ\r";
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceOut, "ATZ\r");
         EXPECT_EQ(walk.Feed().Tx, "ATZ\r");
     }},
    {"partial writes: the rest stays queued and follows",
     [](Walk& walk) {
         walk.line.DeviceWrites = {{.Takes = 2}, {.Takes = 1}, {.Takes = 0}, {.Takes = 2}};
         walk.line.ApplicationIn = "ATDT5\r";
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceOut, "ATDT5\r");
         EXPECT_EQ(walk.Feed().Tx, "ATDT5\r") << "recorded as they went out";
     }},
    {"the device gone in the middle of a write: what went is recorded, the rest counted",
     [](Walk& walk) {
         walk.line.DeviceWrites = {{.Takes = 3}, {.Error = ENXIO}};
         walk.line.ApplicationIn = "ATDT123\r";
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceOut, "ATD");
         EXPECT_EQ(walk.Feed().Tx, "ATD");
         walk.line.DeviceBack = true;
         walk.Later(600);
         EXPECT_TRUE(HasEvent(walk.Feed(), "[5 bytes from the application dropped: the device was away]"));
         EXPECT_EQ(walk.relay->Counts().DroppedWhileAway, 5u);
     }},
    {"the application closing: its side is flushed, the device's bytes are kept from it and counted",
     [](Walk& walk) {
         walk.line.DeviceIn = "RING\r\n";
         walk.Turns();
         EXPECT_EQ(walk.line.ApplicationOut, "RING\r\n");
         walk.line.ApplicationHungUp = true;
         walk.line.ApplicationOpen = false;
         walk.line.ApplicationIn = "ATA\r";  // what it wrote before it closed still goes
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceOut, "ATA\r");
         EXPECT_TRUE(walk.line.ApplicationFlushed);
         EXPECT_FALSE(walk.relay->ApplicationOpen());
         walk.line.DeviceIn = "RING\r\n";
         walk.Turns();
         EXPECT_EQ(walk.line.ApplicationOut, "RING\r\n") << "nothing more for a closed side";
         // It opens again as the device answers: the poll that tells of the
         // open hands the answer to the new opener.
         walk.line.ApplicationHungUp = false;
         walk.line.ApplicationOpen = true;
         walk.line.WatchReadable = true;
         walk.line.DeviceIn = "OK\r\n";
         walk.Turns();
         EXPECT_EQ(walk.line.ApplicationOut, "RING\r\nOK\r\n");
         Fed fed = walk.Feed();
         EXPECT_EQ(fed.Rx, "RING\r\nRING\r\nOK\r\n") << "all recorded";
         EXPECT_TRUE(HasEvent(fed, "[application closed]"));
         EXPECT_TRUE(HasEvent(fed, "[6 bytes from the device not passed: no application had the line]"));
         EXPECT_TRUE(HasEvent(fed, "[application opened]"));
     }},
    {"marks in the device's input: a break, a framing and a parity error, an overrun, a real FF",
     [](Walk& walk) {
         walk.Turns();
         // The kernel marks them in the input (PARMRK); the counts say which
         // error a mark is. A mark may be cut between two reads.
         walk.line.Counts = {.Frame = 1, .Parity = 1, .Overrun = 3, .Break = 1};
         walk.line.DeviceIn = std::string("A\xFF\x00\x00" "B\xFF\x00" "C\xFF", 9);
         walk.Turns();
         walk.line.DeviceIn = std::string("\x00" "D\xFF\xFF" "E", 5);
         walk.Turns();
         EXPECT_EQ(walk.line.ApplicationOut, "ABCD\xFF" "E") << "the bytes pass as they came, a real FF once";
         Fed fed = walk.Feed();
         EXPECT_EQ(fed.Rx, "ABCD\xFF" "E");
         std::vector<std::string> marks;
         for (const std::string& event : fed.Events) {
             if (event != "[115200 8N1]" && event != "[no modem lines]" && event != "[application opened]") {
                 marks.push_back(event);
             }
         }
         EXPECT_EQ(marks, (std::vector<std::string>{"[break]", "[framing error]", "[overrun: 3 lost]",
                                                    "[parity error]"}));
     }},
    {"the feed full: the line passes every byte, feed records go and are counted",
     [](Walk& walk) {
         walk.line.FeedFull = true;
         std::string bytes;
         for (int i = 0; i < 6 << 20; ++i) bytes.push_back(static_cast<char>('a' + i % 26));
         std::string sent;
         for (size_t at = 0; at < bytes.size(); at += 65536) {
             walk.line.ApplicationIn = bytes.substr(at, 65536);
             walk.line.DeviceIn = "OK";
             sent += "OK";
             walk.Turns();
         }
         EXPECT_TRUE(walk.line.DeviceOut == bytes) << walk.line.DeviceOut.size() << " of " << bytes.size();
         EXPECT_EQ(walk.line.ApplicationOut, sent);
         uint64_t dropped = walk.relay->Counts().FeedDropped;
         EXPECT_GT(dropped, 0u);
         walk.line.FeedFull = false;
         walk.line.DeviceIn = "!";
         walk.Turns();
         uint64_t told = 0;  // what the events say, all together
         for (const std::string& event : walk.Feed().Events) {
             unsigned long count = 0;
             char rest[32] = {};
             if (std::sscanf(event.c_str(), "[%lu feed records dropped%31s", &count, rest) == 2) told += count;
         }
         EXPECT_EQ(told, dropped) << "every dropped record is told, once";
     }},
    {"settings changes in a row: each waits behind the bytes before it and for the device to send them",
     [](Walk& walk) {
         walk.line.ApplicationIn = "A";
         walk.Turns();
         walk.line.Drained = false;  // the device takes its time to send what it holds
         walk.Notice(B9600);
         walk.line.ApplicationIn = "B";
         walk.Turns();
         walk.Notice(B19200);
         walk.line.ApplicationIn = "C";
         walk.Turns();
         EXPECT_EQ(walk.line.Log, (std::vector<std::string>{"TX A"})) << "nothing while the device sends";
         walk.line.Drained = true;
         walk.Turns();
         EXPECT_EQ(walk.line.Log, (std::vector<std::string>{"TX A", "SET [9600 8N1]", "TX B", "SET [19200 8N1]", "TX C"}));
         // Refused: the device stays as it was and the bytes go at its
         // settings; the application's next request tries again.
         walk.line.Refuse = true;
         walk.Notice(B57600);
         walk.line.ApplicationIn = "D";
         walk.Turns();
         walk.line.Refuse = false;
         walk.Notice(B57600);
         walk.Turns();
         walk.Notice(B0);  // a hang-up, then a speed again
         walk.Turns();
         walk.Notice(B9600);
         walk.Turns();
         EXPECT_EQ(std::vector<std::string>(walk.line.Log.begin() + 5, walk.line.Log.end()),
                   (std::vector<std::string>{"TX D", "SET [57600 8N1]", "SET [0 baud: hang-up]", "SET [9600 8N1]"}));
         std::vector<std::string> shown;
         for (const std::string& event : walk.Feed().Events) {
             if (event.find("baud") != std::string::npos || event.find("8N1") != std::string::npos) shown.push_back(event);
         }
         EXPECT_EQ(shown, (std::vector<std::string>{"[115200 8N1]", "[9600 8N1]", "[19200 8N1]", "[settings refused: 57600 8N1]",
                                                    "[57600 8N1]", "[0 baud: hang-up]", "[9600 8N1]"}));
     }},
    {"input processing asked for: EXTPROC goes off and the settings are looked at, before the bytes and on a timer",
     [](Walk& walk) {
         walk.Turns();
         walk.Notice(B9600, ICANON | ECHO);
         walk.Turns();
         EXPECT_FALSE(walk.line.Settings.c_lflag & EXTPROC) << "the kernel processes the input";
         walk.line.Settings = FakeLine::RawSettings(B4800);  // no notice comes now
         walk.line.Settings.c_lflag = ICANON;
         walk.line.ApplicationIn = "x";
         walk.Turns();
         walk.line.Settings.c_lflag = 0;
         cfsetospeed(&walk.line.Settings, B2400);
         walk.Later(10);
         EXPECT_TRUE(walk.line.Settings.c_lflag & EXTPROC) << "raw again: the master reports changes again";
         EXPECT_EQ(walk.line.Log, (std::vector<std::string>{"SET [9600 8N1]", "SET [4800 8N1]", "TX x", "SET [2400 8N1]"}));
     }},
    {"flushes: the application's input flush drops what waits for it, its output flush what waits for the device",
     [](Walk& walk) {
         walk.Turns();
         walk.line.ApplicationFull = true;  // it reads nothing; the queue and the device fill
         walk.line.DeviceIn = std::string(70000, 's');
         walk.Turns();
         walk.line.Statuses.push_back(TIOCPKT_FLUSHREAD);
         walk.Turns();
         walk.line.ApplicationFull = false;
         walk.line.DeviceIn = "fresh";
         walk.Turns();
         EXPECT_EQ(walk.line.ApplicationOut, "fresh");
         walk.line.DeviceFull = true;  // the device takes nothing; the queue and the master fill
         walk.line.ApplicationIn = std::string(70000, 'o');
         walk.Turns();
         walk.line.Statuses.push_back(TIOCPKT_FLUSHWRITE);
         walk.Turns();
         walk.line.DeviceFull = false;
         walk.line.ApplicationIn = "NEW";
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceOut, "NEW");
         Fed fed = walk.Feed();
         EXPECT_EQ(fed.Rx, std::string(70000, 's') + "fresh") << "every byte that came is recorded";
         EXPECT_EQ(fed.Tx, "NEW");
         EXPECT_TRUE(HasEvent(fed, "[input flushed: 70000 bytes dropped]"));
         EXPECT_TRUE(HasEvent(fed, "[output flushed: 70000 bytes dropped]"));
     }},
    {"the application closes while the terminal holds the line, then the terminal's writer goes",
     [](Walk& walk) {
         walk.line.Commands = tapfeed::CommandRecord(tapfeed::kOpen, "");
         walk.Turns();
         walk.line.ApplicationIn = "ATH\r";
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceOut, "") << "the application's bytes wait";
         walk.line.ApplicationIn = "ATZ\r";
         walk.line.ApplicationHungUp = true;
         walk.line.ApplicationOpen = false;
         walk.Turns();
         walk.line.CommandsHungUp = true;
         walk.Turns();
         EXPECT_EQ(walk.line.Reopened, 1);
         EXPECT_EQ(walk.line.DeviceOut, "") << "a closed application's bytes are not sent later";
         walk.line.ApplicationHungUp = false;  // a program opens the side again
         walk.line.ApplicationOpen = true;
         walk.line.WatchReadable = true;
         walk.line.ApplicationIn = "AT\r";
         walk.Turns();
         EXPECT_EQ(walk.line.DeviceOut, "AT\r") << "the gone terminal holds nothing";
         Fed fed = walk.Feed();
         EXPECT_TRUE(HasEvent(fed, "[8 bytes from the application dropped: it closed while the terminal held the line]"));
         EXPECT_TRUE(HasEvent(fed, "[the terminal's channel closed: the monitor went]"));
         EXPECT_EQ(walk.relay->Counts().DroppedWhileHeld, 8u);
     }},
    {"a device that hangs up while the application reads nothing: gone at once",
     [](Walk& walk) {
         walk.Turns();
         walk.line.ApplicationFull = true;
         walk.line.DeviceIn = std::string(112 << 10, 'r');
         walk.Turns();
         walk.line.DeviceGone = true;
         ASSERT_TRUE(walk.relay->Turn(0));
         EXPECT_FALSE(walk.relay->DevicePresent());
         EXPECT_TRUE(HasEvent(walk.Feed(), "[device gone]"));
     }},
};

TEST(RelayFaults, EachFailureOfTheLineIsSurvivedAndTold) {
    for (const FaultRow& row : kFaults) {
        SCOPED_TRACE(row.Name);
        Walk walk;
        row.Run(walk);
    }
}

}  // namespace
