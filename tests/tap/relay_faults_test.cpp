// The relay's failure paths, one table, without a pty: its table of calls
// is a fake line whose device, application side and feed fail as the row
// says, and each row walks the relay through the failure and back.
#include <gtest/gtest.h>

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

enum FakeFd { kDevice = 10, kMaster = 11, kFeed = 12, kCommands = 13, kStop = 14, kWatch = 15 };

// What one write to the device does: take this many bytes (all when -1),
// or fail with an error.
struct WriteStep {
    int Takes = -1;
    int Error = 0;
};

// A fake line: what each end holds for the relay to read, what the relay
// wrote to it, and how it fails.
struct FakeLine {
    std::string DeviceIn, DeviceOut, ApplicationIn, ApplicationOut, Feed;
    std::deque<WriteStep> DeviceWrites;  // scripted; afterwards every write takes all
    int DeviceWriteCalls = 0;
    bool DeviceGone = false;       // its reads fail with EIO, poll says POLLHUP
    bool DeviceBack = false;       // opening it again works
    bool ApplicationOpen = true;
    bool ApplicationHungUp = false;  // the master says POLLHUP, reads fail with EIO once empty
    bool ApplicationFlushed = false;
    bool FeedFull = false;
    bool WatchReadable = false;
    bool Counted = true;  // the device keeps error counts
    ErrorCounts Counts;
    uint64_t NowUs = 1000000;
};

FakeLine* g_line = nullptr;

ssize_t Fail(int error) {
    errno = error;
    return -1;
}

ssize_t FakeRead(int fd, void* buffer, size_t size) {
    FakeLine& line = *g_line;
    auto take = [&](std::string& from, char* to, size_t room) {
        size_t count = from.size() < room ? from.size() : room;
        std::memcpy(to, from.data(), count);
        from.erase(0, count);
        return count;
    };
    char* bytes = static_cast<char*>(buffer);
    if (fd == kDevice) {
        if (line.DeviceGone) return Fail(EIO);
        if (line.DeviceIn.empty()) return Fail(EAGAIN);
        return static_cast<ssize_t>(take(line.DeviceIn, bytes, size));
    }
    if (fd == kMaster) {
        if (line.ApplicationIn.empty()) return Fail(line.ApplicationHungUp ? EIO : EAGAIN);
        bytes[0] = TIOCPKT_DATA;  // packet mode: the data comes behind a zero byte
        return static_cast<ssize_t>(1 + take(line.ApplicationIn, bytes + 1, size - 1));
    }
    if (fd == kWatch && line.WatchReadable) {
        line.WatchReadable = false;
        return 1;
    }
    return Fail(EAGAIN);
}

ssize_t FakeWrite(int fd, const void* buffer, size_t size) {
    FakeLine& line = *g_line;
    const char* bytes = static_cast<const char*>(buffer);
    if (fd == kDevice) {
        ++line.DeviceWriteCalls;
        WriteStep step;
        if (!line.DeviceWrites.empty()) {
            step = line.DeviceWrites.front();
            line.DeviceWrites.pop_front();
        }
        if (step.Error) return Fail(step.Error);
        size_t taken = step.Takes < 0 || static_cast<size_t>(step.Takes) > size ? size : static_cast<size_t>(step.Takes);
        line.DeviceOut.append(bytes, taken);
        return static_cast<ssize_t>(taken);
    }
    if (fd == kMaster) {
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

int FakePoll(pollfd* fds, nfds_t count, int) {
    FakeLine& line = *g_line;
    int ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
        short revents = 0;
        switch (fds[i].fd) {
            case kDevice:
                revents = line.DeviceGone ? POLLHUP | POLLERR : (line.DeviceIn.empty() ? 0 : POLLIN) | POLLOUT;
                break;
            case kMaster:
                revents = (line.ApplicationHungUp ? POLLHUP : 0) | (line.ApplicationIn.empty() ? 0 : POLLIN) | POLLOUT;
                break;
            case kFeed: revents = line.FeedFull ? 0 : POLLOUT; break;
            case kWatch: revents = line.WatchReadable ? POLLIN : 0; break;
            default: break;
        }
        fds[i].revents = static_cast<short>(revents & (fds[i].events | POLLHUP | POLLERR));
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
bool FakeTermios(int, termios* record) {
    *record = termios{};
    cfsetospeed(record, B115200);
    record->c_lflag = EXTPROC;
    return true;
}
void FakeExtproc(int) {}
size_t FakeUnread(int) { return g_line->ApplicationIn.size(); }
size_t FakeFlush(int) {
    g_line->ApplicationFlushed = true;
    return 0;
}
bool FakeOpenSide(int) { return g_line->ApplicationOpen; }
size_t FakeUnsent(int) { return 0; }
bool FakeLines(int, int*) { return false; }
bool FakeCounts(int, ErrorCounts* counts) {
    *counts = g_line->Counts;
    return g_line->Counted;
}
uint64_t FakeNow() { return g_line->NowUs; }

const LineOps kFakeOps = {FakeRead,     FakeWrite, FakePoll,     FakeOpen,     FakeClose,   FakeApply,
                          FakeTermios,  FakeExtproc, FakeUnread, FakeFlush,    FakeOpenSide, FakeUnsent,
                          FakeLines,    FakeCounts, FakeNow};

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
};

TEST(RelayFaults, EachFailureOfTheLineIsSurvivedAndTold) {
    for (const FaultRow& row : kFaults) {
        SCOPED_TRACE(row.Name);
        Walk walk;
        row.Run(walk);
    }
}

}  // namespace
