// The application's settings on real ptys: where each change stands among
// its bytes, and the input processing it asks for. A pty reports a change
// ahead of the bytes still queued and cannot say which of those came first:
// these walks measure the orders that matter, and compare what the
// application reads through the tap with what a plain pty gives it.
#include <algorithm>
#include <cstdio>

#include "tap/line_walk.h"

namespace {

using namespace tapwalk;

speed_t DeviceSpeed(const Pty& device) {
    termios record{};
    tcgetattr(device.Master, &record);  // the slave's, read on its master
    return cfgetospeed(&record);
}

// TX bytes that the feed recorded after the event `event`, the n-th of its text.
size_t TxAfter(const std::vector<FeedRecord>& fed, const std::string& event, size_t n) {
    size_t seen = 0, bytes = 0;
    for (const FeedRecord& record : fed) {
        if (record.Kind == tapfeed::kEvent && record.Payload == event) ++seen;
        else if (record.Kind == tapfeed::kTx && seen > n) bytes += record.Payload.size();
    }
    return bytes;
}

// Ten rounds of "set, then write at once" and "write, wait for the answer,
// then set": each change goes before the command written after it and after
// the one written before it, every time. Then five rounds of "write 60,000
// bytes, tcdrain, set", whose last bytes may still be queued when the change
// is reported: how many went after it is printed, and every byte arrives.
TEST_F(LineWalk, EachSettingsChangeStandsBetweenTheBytesBeforeAndAfterIt) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    std::vector<std::string> expected = {"[application opened]"};
    for (int round = 0; round < 10; ++round) {
        bool slow = round % 2 == 0;
        std::string command = "AT" + std::to_string(round) + "\r";
        SetClientSpeed(slow ? B9600 : B57600);
        Send(client_, command);
        ASSERT_EQ(Receive(device.Master, command.size()), command);
        EXPECT_EQ(DeviceSpeed(device), slow ? B9600 : B57600);
        Send(device.Master, "OK");
        ASSERT_EQ(Receive(client_, 2), "OK");
        for (const char* line : {slow ? "[9600 8N1]" : "[57600 8N1]", "TX ", "RX OK"}) expected.push_back(line);
        expected[expected.size() - 2] += command;
    }
    ASSERT_TRUE(FeedUntil([&] { return Story("[application opened]").size() >= expected.size(); }));
    EXPECT_EQ(Story("[application opened]"), expected);

    std::string pattern(60000, 0);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>('A' + i % 23);
    std::string after;
    for (int run = 0; run < 5; ++run) {
        std::string arrived;
        std::thread reader([&] { arrived = Receive(device.Master, pattern.size(), 5000); });
        SendAll(client_, pattern);
        tcdrain(client_);
        SetClientSpeed(run % 2 ? B57600 : B19200);
        reader.join();
        EXPECT_TRUE(arrived == pattern) << "run " << run << ": " << arrived.size() << " bytes, or others";
        const char* event = run % 2 ? "[57600 8N1]" : "[19200 8N1]";
        ASSERT_TRUE(FeedHas(event));
        after += (run ? ", " : "") + std::to_string(TxAfter(Fed(), event, run / 2 + (run % 2 ? 5 : 0)));
    }
    std::printf("write 60000 bytes, tcdrain, set: bytes that went after the change, 5 runs: %s\n", after.c_str());
}

// What the application reads, step by step, as the other end sends each
// step's bytes; and what goes back to that end (the echo).
struct Seen {
    std::vector<std::string> Reads;
    std::string Back;
    bool operator==(const Seen&) const = default;
};

struct Processing {
    const char* Name;
    tcflag_t Input, Local;
    std::vector<std::string> Steps;
};

const Processing kProcessing[] = {
    {"canonical lines, CR to LF, echo", ICRNL, ICANON | ECHO, {"ab", "c\r"}},
    {"PARMRK: a real 0xFF doubled", PARMRK, 0, {std::string("\xFF\x00\x00" "A", 4)}},
    {"LF to CR, CR ignored, the eighth bit stripped", INLCR | IGNCR | ISTRIP, 0, {"a\nb\rc\xC1"}},
    {"raw", 0, 0, {std::string("\xFF\x00\r\n", 4)}},
};

// The application at `application`, the other end at `far`.
Seen Walk(int application, int far, const Processing& processing) {
    Seen seen;
    for (const std::string& step : processing.Steps) {
        EXPECT_EQ(write(far, step.data(), step.size()), static_cast<ssize_t>(step.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        char buffer[256];
        ssize_t count = read(application, buffer, sizeof(buffer));
        seen.Reads.push_back(count > 0 ? std::string(buffer, static_cast<size_t>(count)) : "");
    }
    char buffer[256];
    ssize_t count = read(far, buffer, sizeof(buffer));
    if (count > 0) seen.Back.assign(buffer, static_cast<size_t>(count));
    return seen;
}

// The kernel processes the application's input as it asked, through the
// tap as on a plain pty (the tap turns EXTPROC off for it); and while it
// does, a change of speed with no notice still reaches the device within
// 10 ms (the median of ten, printed with the longest).
TEST_F(LineWalk, TheApplicationReadsWhatAPlainPtyGivesItAndItsSettingsStillFollow) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    OpenClient();
    size_t round = 0;
    for (const Processing& processing : kProcessing) {
        SCOPED_TRACE(processing.Name);
        Pty plain;
        int slave = open(plain.Slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_TRUE(SetRaw(slave, B9600, processing.Input, processing.Local));
        Seen expected = Walk(slave, plain.Master, processing);
        close(slave);
        bool slow = ++round % 2 == 1;
        SetClientSpeed(slow ? B4800 : B2400, processing.Input, processing.Local);
        ASSERT_TRUE(FeedUntil([&] { return Events(slow ? "[4800 8N1]" : "[2400 8N1]").size() == (round + 1) / 2; }));
        EXPECT_EQ(Walk(client_, device.Master, processing), expected);
    }
    SetClientSpeed(B9600, ICRNL, ICANON | ECHO);
    std::vector<double> follow;
    for (int i = 0; i < 10; ++i) {
        speed_t speed = i % 2 ? B9600 : B19200;
        auto asked = Clock::now();
        SetClientSpeed(speed, ICRNL, ICANON | ECHO);
        while (DeviceSpeed(device) != speed && Clock::now() - asked < std::chrono::seconds(1)) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        follow.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
    }
    std::sort(follow.begin(), follow.end());
    std::printf("settings followed while the kernel processes the input: median %.1f ms, longest %.1f ms\n",
                (follow[4] + follow[5]) / 2, follow.back());
    EXPECT_LE((follow[4] + follow[5]) / 2, 10.0);
}

}  // namespace
