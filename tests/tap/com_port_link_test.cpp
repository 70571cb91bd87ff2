// A remote line's connection as the relay sees it, with the test as the
// server at the other end of a socket pair: what it says of the line (its
// modem lines, breaks and errors, marked where they came), and how each
// settings change ends: answered as asked, answered otherwise, or not at
// all.
#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "tap/com_port_link.h"
#include "tap/byte_string.h"

namespace {

using namespace tap;
using namespace tap::telnet;

using tapwalk::Bytes;

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

// What the link sends once the server agrees to COM-PORT: the masks, and
// the probe that asks for the server's speed.
const std::string kMasksAndProbe = ComPortRequest(kSetModemstateMask, Bytes({0xFF})) +
                                   ComPortRequest(kSetLinestateMask, Bytes({0x1E})) +
                                   ComPortRequest(kSetBaudrate, BaudValue(0));

// The test is the server; the link has sent its opening.
class ComPortLinkTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends_), 0);
        link_ = std::make_unique<ComPortLink>(ends_[0], now_);
        EXPECT_EQ(Drain(ends_[1]), Bytes({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort}));
    }
    void TearDown() override {
        if (ends_[1] >= 0) close(ends_[1]);
    }
    void Say(const std::string& bytes) {
        ASSERT_EQ(write(ends_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string Heard() { return Drain(ends_[1]); }

    int ends_[2] = {-1, -1};
    uint64_t now_ = 1000;
    std::unique_ptr<ComPortLink> link_;
};

// The line as the kernel marks a device's input: a break, a real FF, an
// error without its byte (the counts say which error it was); the modem
// lines as told; the masks sent once the server agrees; the server's end
// read after the last bytes it sent.
TEST_F(ComPortLinkTest, TheServersNoticesStandInTheLineWhereTheyCame) {
    int bits = 0;
    EXPECT_FALSE(link_->ModemLines(&bits, now_));
    EXPECT_EQ(errno, EAGAIN) << "not known yet";
    Say(Bytes({kIac, kDo, kComPort}) + Answer(kNotifyModemstate, Bytes({kClearToSend | kDataSetReady})) + "AB" +
        Answer(kNotifyLinestate, Bytes({kBreakDetected})) + Bytes({kIac, kIac}) +
        Answer(kNotifyLinestate, Bytes({kFramingError | kOverrunError})) + "C");
    EXPECT_EQ(ReadLink(*link_, now_), "AB" + Bytes({0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 1}) + "C");
    ASSERT_TRUE(link_->ModemLines(&bits, now_));
    EXPECT_EQ(bits, TIOCM_CTS | TIOCM_DSR | TIOCM_DTR | TIOCM_RTS);
    ErrorCounts counts = link_->Counts();
    EXPECT_EQ(counts.Break + counts.Frame + counts.Overrun + counts.Parity, 3u);
    EXPECT_EQ(counts.Frame, 1u);
    EXPECT_EQ(Heard(), kMasksAndProbe);
    EXPECT_TRUE(link_->Heard());
    Say("Z");
    close(ends_[1]);
    ends_[1] = -1;
    EXPECT_EQ(ReadLink(*link_, now_), "Z");
    char byte;
    EXPECT_EQ(link_->Read(&byte, 1, now_), 0);
}

// A change asked before the server agrees waits for it; one answer that
// differs refuses it; a hang-up never answered is refused once the wait is
// over; the next speed raises DTR and RTS without waiting for their
// answers, and every awaited answer as asked, in any order, applies it,
// though the probe's answer came among them.
TEST_F(ComPortLinkTest, EachSettingsChangeEndsAnsweredAsAskedOtherwiseOrNotAtAll) {
    int first = link_->Apply({57600, {7, 'E', 1}}, now_);
    ASSERT_GE(first, 0);
    EXPECT_EQ(Heard(), "");
    Say(Bytes({kIac, kDo, kComPort}));
    EXPECT_EQ(ReadLink(*link_, now_), "");
    EXPECT_EQ(Heard(), kMasksAndProbe + ComPortRequest(kSetBaudrate, BaudValue(57600)) + ComPortRequest(kSetDatasize, Bytes({7})) +
                           ComPortRequest(kSetParity, Bytes({3})) + ComPortRequest(kSetStopsize, Bytes({1})) +
                           ComPortRequest(kSetControl, Bytes({kNoFlowControl})));
    Say(Answer(kSetBaudrate, BaudValue(57600)) + Answer(kSetDatasize, Bytes({8})) + Answer(kSetParity, Bytes({3})) +
        Answer(kSetStopsize, Bytes({1})) + Answer(kSetControl, Bytes({kNoFlowControl})));
    EXPECT_EQ(ReadLink(*link_, now_), "");
    EXPECT_EQ(Outcome(first), kSettingsRefused);

    int hangUp = link_->Apply({0, {8, 'N', 1}}, now_);
    EXPECT_EQ(Heard(), ComPortRequest(kSetControl, Bytes({kDtrOff})) + ComPortRequest(kSetControl, Bytes({kRtsOff})));
    EXPECT_EQ(link_->UntilDeadline(now_), static_cast<int64_t>(ComPortLink::kAnswerWaitUs));
    EXPECT_TRUE(link_->Serve(0, now_ + ComPortLink::kAnswerWaitUs - 1));
    EXPECT_TRUE(link_->Serve(0, now_ + ComPortLink::kAnswerWaitUs));
    EXPECT_EQ(Outcome(hangUp), kSettingsRefused);
    EXPECT_EQ(link_->UntilDeadline(now_), -1);

    int next = link_->Apply({9600, {8, 'N', 1}}, now_);
    std::string raise = ComPortRequest(kSetControl, Bytes({kDtrOn})) + ComPortRequest(kSetControl, Bytes({kRtsOn}));
    EXPECT_EQ(Heard().substr(0, raise.size()), raise);
    // The probe's answer (the server's speed) comes late, among them.
    Say(Answer(kSetControl, Bytes({kNoFlowControl})) + Answer(kSetBaudrate, BaudValue(115200)) +
        Answer(kSetBaudrate, BaudValue(9600)) +
        Answer(kSetDatasize, Bytes({8})) + Answer(kSetParity, Bytes({1})) + Answer(kSetStopsize, Bytes({1})));
    EXPECT_EQ(ReadLink(*link_, now_), "");
    EXPECT_EQ(Outcome(next), kSettingsApplied);
}

}  // namespace
