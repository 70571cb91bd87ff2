// The tap on real ptys, as the kernel runs them: each test is a whole walk
// of a Linux client on the application's side and a pty as the device,
// with the relay on a thread of its own and the feed read as the monitor
// reads it. What the kernel does here (packet mode, EXTPROC, hang-ups,
// settings) is what the tap relies on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/tap_feed.h"
#include "tap/application_side.h"
#include "tap/line_ops.h"
#include "tap/relay.h"

namespace {

using namespace tap;
using Clock = std::chrono::steady_clock;

// A pty that the test holds by its master: the far end of a device.
struct Pty {
    int Master = -1;
    std::string Slave;
    Pty() {
        Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        char name[128] = {};
        grantpt(Master);
        unlockpt(Master);
        ptsname_r(Master, name, sizeof(name));
        Slave = name;
    }
    ~Pty() { Close(); }
    void Close() {
        if (Master >= 0) close(Master);
        Master = -1;
    }
};

struct FeedRecord {
    uint8_t Kind;
    std::string Payload;
    uint64_t Microseconds;
};

// The relay of a tap or sniffer on its own thread, its feed read as it comes.
class LineWalk : public testing::Test {
protected:
    void TearDown() override {
        if (thread_.joinable()) {
            char stop = 1;
            EXPECT_EQ(write(stop_[1], &stop, 1), 1);
            thread_.join();
        }
        for (int fd : {feed_[0], feed_[1], commands_[0], commands_[1], stop_[0], stop_[1], client_}) {
            if (fd >= 0) close(fd);
        }
        CloseApplicationSide(&side_);
        if (!link_.empty()) unlink(link_.c_str());
    }

    // Starts a tap between a new application side and the device at path.
    void StartTap(const std::string& devicePath) {
        RelayConfig config = Pipes();
        config.DevicePath = devicePath;
        config.Device = KernelLineOps().OpenDevice(devicePath.c_str(), false);
        ASSERT_GE(config.Device, 0);
        ASSERT_TRUE(KernelLineOps().ApplySettings(config.Device, config.Settings));
        std::string why;
        ASSERT_TRUE(MakeApplicationSide(config.Settings, &side_, &why)) << why;
        config.Master = side_.Master;
        config.ApplicationWatch = side_.Watch;
        Run(config);
    }

    void StartSniffer(const std::string& tx, const std::string& rx) {
        RelayConfig config = Pipes();
        config.Sniff = true;
        config.DevicePath = tx;
        config.SecondPath = rx;
        config.Device = KernelLineOps().OpenDevice(tx.c_str(), true);
        config.SecondDevice = KernelLineOps().OpenDevice(rx.c_str(), true);
        ASSERT_GE(config.Device, 0);
        ASSERT_GE(config.SecondDevice, 0);
        ASSERT_TRUE(KernelLineOps().ApplySettings(config.Device, config.Settings));
        ASSERT_TRUE(KernelLineOps().ApplySettings(config.SecondDevice, config.Settings));
        Run(config);
    }

    RelayConfig Pipes() {
        EXPECT_EQ(pipe2(feed_, O_NONBLOCK), 0);
        EXPECT_EQ(pipe2(commands_, O_NONBLOCK), 0);
        EXPECT_EQ(pipe2(stop_, O_NONBLOCK), 0);
        RelayConfig config;
        config.Feed = feed_[1];
        config.Commands = commands_[0];
        config.Stop = stop_[0];
        return config;
    }

    void Run(const RelayConfig& config) {
        thread_ = std::thread([config] {
            Relay relay(config, KernelLineOps());
            relay.Run();
        });
    }

    // The application: a Linux client that opens its side raw.
    void OpenClient() {
        client_ = open(side_.SlavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(client_, 0);
    }
    void CloseClient() {
        close(client_);
        client_ = -1;
    }
    void SetClientSpeed(speed_t speed) {
        termios record{};
        ASSERT_EQ(tcgetattr(client_, &record), 0);
        cfmakeraw(&record);
        cfsetispeed(&record, speed);
        cfsetospeed(&record, speed);
        ASSERT_EQ(tcsetattr(client_, TCSANOW, &record), 0);
    }

    static void Send(int fd, const std::string& bytes) {
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What fd gives within ms, until it has given `until` bytes.
    static std::string Receive(int fd, size_t until, int ms = 2000) {
        std::string got;
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < until && Clock::now() < end) {
            char buffer[4096];
            ssize_t count = read(fd, buffer, sizeof(buffer));
            if (count > 0) got.append(buffer, static_cast<size_t>(count));
            else std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return got;
    }

    // Reads the feed until done() or ms.
    bool FeedUntil(const std::function<bool()>& done, int ms = 3000) {
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            char buffer[65536];
            ssize_t count;
            while ((count = read(feed_[0], buffer, sizeof(buffer))) > 0) reader_.Add(buffer, static_cast<size_t>(count));
            tapfeed::FeedHeader header;
            std::string payload;
            while (reader_.Next(&header, &payload)) fed_.push_back({header.Kind, payload, header.Microseconds});
            if (done()) return true;
            if (Clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    bool FeedHas(const std::string& event) {
        return FeedUntil([&] { return Has(event); });
    }
    bool Has(const std::string& event) const {
        for (const FeedRecord& record : fed_) {
            if (record.Kind == tapfeed::kEvent && record.Payload == event) return true;
        }
        return false;
    }
    // The feed as one line per record: "TX AT\r" "RX OK" "ANSWER ..." "[event]",
    // with runs of bytes of one kind joined, from the first record that
    // matches `from` on.
    std::vector<std::string> Story(const std::string& from = "") const {
        static const char* const kinds[] = {"", "HELLO", "RX", "TX", "ANSWER", ""};
        std::vector<std::string> story;
        bool started = from.empty();
        uint8_t last = 0;
        for (const FeedRecord& record : fed_) {
            bool bytes = record.Kind != tapfeed::kEvent && record.Kind != tapfeed::kHello;
            std::string line = bytes ? std::string(kinds[record.Kind]) + " " + record.Payload : record.Payload;
            if (!started && line.rfind(from, 0) != 0) continue;
            started = true;
            if (bytes && last == record.Kind && !story.empty()) {
                story.back() += record.Payload;
            } else {
                story.push_back(line);
            }
            last = record.Kind;
        }
        return story;
    }
    std::vector<FeedRecord> Fed() const { return fed_; }

    void Command(tapfeed::CommandKind kind, const std::string& payload = "") {
        Send(commands_[1], tapfeed::CommandRecord(kind, payload));
    }

    ApplicationSide side_;
    int client_ = -1;
    std::string link_;
    int feed_[2] = {-1, -1}, commands_[2] = {-1, -1}, stop_[2] = {-1, -1};
    std::thread thread_;
    tapfeed::FeedReader reader_;
    std::vector<FeedRecord> fed_;
};

speed_t DeviceSpeed(const Pty& device) {
    termios record{};
    tcgetattr(device.Master, &record);  // the slave's, read on its master
    return cfgetospeed(&record);
}

// A Linux client sets 9600, then 57600: the device follows each time, the
// bytes around each change arrive intact, and the settings show in place.
TEST_F(LineWalk, TheDeviceFollowsTheApplicationsSpeedAndTheBytesAroundTheChangeArriveIntact) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    EXPECT_EQ(DeviceSpeed(device), B115200) << "the speed given until the application sets its own";
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    // What is written before a change goes out before it; a program that
    // changes its speed gives the change a moment before it writes again.
    Send(client_, "before");
    SetClientSpeed(B9600);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Send(client_, "after");
    EXPECT_EQ(Receive(device.Master, 11), "beforeafter");
    ASSERT_TRUE(FeedHas("[9600 8N1]"));
    EXPECT_EQ(DeviceSpeed(device), B9600);
    Send(device.Master, "OK");
    EXPECT_EQ(Receive(client_, 2), "OK");
    SetClientSpeed(B57600);
    ASSERT_TRUE(FeedHas("[57600 8N1]"));
    EXPECT_EQ(DeviceSpeed(device), B57600);
    Send(client_, "x");
    EXPECT_EQ(Receive(device.Master, 1), "x");
    ASSERT_TRUE(FeedUntil([&] { return Story("[application opened]").size() >= 6; }));
    EXPECT_EQ(Story("[application opened]"),
              (std::vector<std::string>{"[application opened]", "TX before", "[9600 8N1]", "TX after", "RX OK",
                                        "[57600 8N1]", "TX x"}));
}

// The application closes and reopens: what the device sent meanwhile, and
// what it had sent that the application had not read (5 bytes), never
// reaches the new opener; the pane says how many bytes were kept from it.
TEST_F(LineWalk, BytesForAClosedApplicationSideNeverReachItsNextOpener) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    Send(device.Master, "STALE");
    ASSERT_TRUE(FeedUntil([&] { return Story().back() == "RX STALE"; }));
    CloseClient();  // without reading them
    ASSERT_TRUE(FeedHas("[application closed]"));
    Send(device.Master, "RING\r\n");
    ASSERT_TRUE(FeedUntil([&] { return Story().back() == "RX RING\r\n"; }));
    OpenClient();
    ASSERT_TRUE(FeedHas("[11 bytes from the device not passed: no application had the line]"));
    EXPECT_EQ(Receive(client_, 1, 300), "") << "nothing stale for the new opener";
    Send(device.Master, "OK");
    EXPECT_EQ(Receive(client_, 2), "OK");
}

// The device goes (its pty closes) and comes back under the same path: the
// application's bytes meanwhile are dropped and counted, never delivered
// late, and the line goes on with the new device.
TEST_F(LineWalk, ADeviceThatGoesAndComesBackUnderItsPathIsOpenedAgain) {
    auto device = std::make_unique<Pty>();
    char folder[] = "/tmp/quorvel-tap-walk-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    link_ = std::string(folder) + "/device";
    ASSERT_EQ(symlink(device->Slave.c_str(), link_.c_str()), 0);
    ASSERT_NO_FATAL_FAILURE(StartTap(link_));
    OpenClient();
    device->Close();
    ASSERT_TRUE(FeedHas("[device gone]"));
    Send(client_, "lost");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto back = std::make_unique<Pty>();
    unlink(link_.c_str());
    ASSERT_EQ(symlink(back->Slave.c_str(), link_.c_str()), 0);
    ASSERT_TRUE(FeedHas("[device back]"));
    ASSERT_TRUE(FeedHas("[4 bytes from the application dropped: the device was away]"));
    Send(client_, "AT\r");
    EXPECT_EQ(Receive(back->Master, 3), "AT\r");
    unlink(link_.c_str());
    link_.clear();
    rmdir(folder);
}

// A sniffer hears two read-only lines, interleaved in the order read, on
// one clock, and writes nothing to either.
TEST_F(LineWalk, ASnifferHearsBothLinesInTheOrderReadAndWritesNothing) {
    Pty tx, rx;
    ASSERT_NO_FATAL_FAILURE(StartSniffer(tx.Slave, rx.Slave));
    ASSERT_TRUE(FeedHas("[RX: no modem lines]"));
    for (const auto& [line, bytes] : std::vector<std::pair<int, std::string>>{
             {tx.Master, "ATD5\r"}, {rx.Master, "CONNECT"}, {tx.Master, "x"}}) {
        size_t before = Story().size();
        Send(line, bytes);
        ASSERT_TRUE(FeedUntil([&] { return Story().size() > before; }));
    }
    std::vector<std::string> story = Story();
    EXPECT_EQ(std::vector<std::string>(story.end() - 3, story.end()),
              (std::vector<std::string>{"TX ATD5\r", "RX CONNECT", "TX x"}));
    uint64_t last = 0;
    for (const FeedRecord& record : Fed()) {
        EXPECT_GE(record.Microseconds, last) << "one clock, ascending";
        last = record.Microseconds;
    }
    EXPECT_EQ(Receive(tx.Master, 1, 100) + Receive(rx.Master, 1, 100), "") << "nothing written to either";
}

// While the terminal holds the line, its commands go to the device and the
// answers to the monitor alone; the application's bytes wait and follow,
// in order, once the terminal lets go.
TEST_F(LineWalk, TheTerminalHoldsTheLineAndTheApplicationsBytesFollowInOrder) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    Command(tapfeed::kOpen);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send(client_, "ATH\r");
    Command(tapfeed::kWrite, "AT\r");
    EXPECT_EQ(Receive(device.Master, 4, 300), "AT\r") << "the terminal's only";
    Send(device.Master, "OK\r\n");
    ASSERT_TRUE(FeedUntil([&] { return Story().back() == "ANSWER OK\r\n"; }));
    EXPECT_EQ(Receive(client_, 1, 100), "") << "the answer is the terminal's";
    Command(tapfeed::kClose);
    EXPECT_EQ(Receive(device.Master, 4), "ATH\r");
    Send(device.Master, "X");
    EXPECT_EQ(Receive(client_, 1), "X");
    ASSERT_TRUE(FeedUntil([&] { return Story().back() == "RX X"; }));
    EXPECT_EQ(Story("TX AT\r"), (std::vector<std::string>{"TX AT\r", "ANSWER OK\r\n", "TX ATH\r", "RX X"}));
}

}  // namespace
