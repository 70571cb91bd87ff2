// A remote line's connection as the relay sees it, with the test as the
// server at the other end of a socket pair: what it says of the line (its
// modem lines, breaks and errors, marked where they came), and how each
// settings change ends: answered as asked, answered otherwise, or not at
// all.
#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "tap/com_port_link.h"

namespace {

using namespace tap;
using namespace tap::telnet;

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) bytes.push_back(static_cast<char>(value));
    return bytes;
}

std::string Drain(int fd) {
    std::string got;
    char buffer[4096];
    ssize_t count;
    while ((count = read(fd, buffer, sizeof(buffer))) > 0) got.append(buffer, static_cast<size_t>(count));
    return got;
}

std::string Answer(uint8_t command, const std::string& value) {
    return ComPortRequest(static_cast<uint8_t>(command + kServerOffset), value);
}

// What the relay reads of the link now.
std::string ReadLink(ComPortLink& link, uint64_t now) {
    std::string got;
    char buffer[4096];
    ssize_t count;
    while ((count = link.Read(buffer, sizeof(buffer), now)) > 0) got.append(buffer, static_cast<size_t>(count));
    return got;
}

uint64_t Outcome(int fd) {
    uint64_t value = 0;
    EXPECT_EQ(read(fd, &value, sizeof(value)), static_cast<ssize_t>(sizeof(value)));
    close(fd);
    return value;
}

TEST(ComPortLink, WhatTheServerTellsAndHowEachSettingsChangeEnds) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends), 0);
    int server = ends[1];
    uint64_t now = 1000;
    ComPortLink link(ends[0], now);
    EXPECT_EQ(Drain(server), Bytes({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort}));

    // A change asked before the server agrees to COM-PORT waits for it.
    int first = link.Apply({57600, {7, 'E', 1}}, now);
    ASSERT_GE(first, 0);
    EXPECT_EQ(Drain(server), "");
    int bits = 0;
    EXPECT_FALSE(link.ModemLines(&bits, now));
    EXPECT_EQ(errno, EAGAIN) << "not known yet";

    // The line as the kernel marks a device's input: a break, a real FF, an
    // error without its byte; the counts say which error it was.
    std::string told = Bytes({kIac, kDo, kComPort}) + Answer(kNotifyModemstate, Bytes({kClearToSend | kDataSetReady})) +
                       "AB" + Answer(kNotifyLinestate, Bytes({kBreakDetected})) + Bytes({kIac, kIac}) +
                       Answer(kNotifyLinestate, Bytes({kFramingError | kOverrunError})) + "C";
    ASSERT_EQ(write(server, told.data(), told.size()), static_cast<ssize_t>(told.size()));
    EXPECT_EQ(ReadLink(link, now), "AB" + Bytes({0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 1}) + "C");
    ASSERT_TRUE(link.ModemLines(&bits, now));
    EXPECT_EQ(bits, TIOCM_CTS | TIOCM_DSR | TIOCM_DTR | TIOCM_RTS);
    ErrorCounts counts = link.Counts();
    EXPECT_EQ(counts.Break + counts.Frame + counts.Overrun + counts.Parity, 3u);
    EXPECT_EQ(counts.Frame, 1u);

    // The masks, then the change's requests; one answer differs: refused.
    EXPECT_EQ(Drain(server), ComPortRequest(kSetModemstateMask, Bytes({0xFF})) +
                                 ComPortRequest(kSetLinestateMask, Bytes({0x1E})) +
                                 ComPortRequest(kSetBaudrate, BaudValue(57600)) + ComPortRequest(kSetDatasize, Bytes({7})) +
                                 ComPortRequest(kSetParity, Bytes({3})) + ComPortRequest(kSetStopsize, Bytes({1})) +
                                 ComPortRequest(kSetControl, Bytes({kNoFlowControl})));
    std::string answers = Answer(kSetBaudrate, BaudValue(57600)) + Answer(kSetDatasize, Bytes({8})) +
                          Answer(kSetParity, Bytes({3})) + Answer(kSetStopsize, Bytes({1})) +
                          Answer(kSetControl, Bytes({kNoFlowControl}));
    ASSERT_EQ(write(server, answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
    EXPECT_EQ(ReadLink(link, now), "");
    EXPECT_EQ(Outcome(first), kSettingsRefused);

    // A hang-up that the server never answers: refused once the wait is over.
    int hangUp = link.Apply({0, {8, 'N', 1}}, now);
    EXPECT_EQ(Drain(server), ComPortRequest(kSetControl, Bytes({kDtrOff})) + ComPortRequest(kSetControl, Bytes({kRtsOff})));
    EXPECT_EQ(link.UntilDeadline(now), static_cast<int64_t>(ComPortLink::kAnswerWaitUs));
    EXPECT_TRUE(link.Serve(0, now + ComPortLink::kAnswerWaitUs - 1));
    EXPECT_TRUE(link.Serve(0, now + ComPortLink::kAnswerWaitUs));
    EXPECT_EQ(Outcome(hangUp), kSettingsRefused);
    EXPECT_EQ(link.UntilDeadline(now), -1);

    // The next speed raises DTR and RTS without waiting for their answers;
    // every awaited answer as asked (in any order): applied.
    int next = link.Apply({9600, {8, 'N', 1}}, now);
    std::string asked = Drain(server);
    EXPECT_EQ(asked.substr(0, 14), ComPortRequest(kSetControl, Bytes({kDtrOn})) + ComPortRequest(kSetControl, Bytes({kRtsOn})));
    answers = Answer(kSetControl, Bytes({kNoFlowControl})) + Answer(kSetBaudrate, BaudValue(9600)) +
              Answer(kSetDatasize, Bytes({8})) + Answer(kSetParity, Bytes({1})) + Answer(kSetStopsize, Bytes({1}));
    ASSERT_EQ(write(server, answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
    EXPECT_EQ(ReadLink(link, now), "");
    EXPECT_EQ(Outcome(next), kSettingsApplied);

    // The server goes: what it sent last is read, then the end.
    ASSERT_EQ(write(server, "Z", 1), 1);
    close(server);
    EXPECT_EQ(ReadLink(link, now), "Z");
    char byte;
    EXPECT_EQ(link.Read(&byte, 1, now), 0);
}

}  // namespace
