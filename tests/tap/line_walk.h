// The tap on real ptys, as its tests walk it: a Linux client on the
// application's side, a pty as the device, the relay on a thread of its own
// and the feed read as the monitor reads it (and, where asked, the session
// captured into a pcap file).
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/formats/tap_feed.h"
#include "tap/application_side.h"
#include "tap/capture_writer.h"
#include "tap/line_ops.h"
#include "tap/relay.h"

namespace tapwalk {

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
        StopRelay();
        for (int fd : {feed_[0], feed_[1], commands_[0], commands_[1], stop_[0], stop_[1], client_}) {
            if (fd >= 0) close(fd);
        }
        CloseApplicationSide(&side_);
        if (!link_.empty()) unlink(link_.c_str());
    }

    // Stops the relay (and ends its capture).
    void StopRelay() {
        if (thread_.joinable()) {
            char stop = 1;
            EXPECT_EQ(write(stop_[1], &stop, 1), 1);
            thread_.join();
        }
        if (capture_) capture_->Close();
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

    void Run(RelayConfig config) {
        config.Capture = capture_.get();
        const LineOps* ops = ops_;
        thread_ = std::thread([config, ops] {
            Relay relay(config, *ops);
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
    // The client's settings: raw at the speed, with the input and local
    // flags given on top.
    void SetClientSpeed(speed_t speed, tcflag_t inputFlags = 0, tcflag_t localFlags = 0) {
        ASSERT_TRUE(SetRaw(client_, speed, inputFlags, localFlags));
    }
    static bool SetRaw(int fd, speed_t speed, tcflag_t inputFlags = 0, tcflag_t localFlags = 0) {
        termios record{};
        if (tcgetattr(fd, &record) != 0) return false;
        cfmakeraw(&record);
        record.c_iflag |= inputFlags;
        record.c_lflag |= localFlags;
        cfsetispeed(&record, speed);
        cfsetospeed(&record, speed);
        return tcsetattr(fd, TCSANOW, &record) == 0;
    }

    static void Send(int fd, const std::string& bytes) {
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Writes all of bytes to a non-blocking descriptor, waiting for room.
    static void SendAll(int fd, const std::string& bytes) {
        for (size_t at = 0; at < bytes.size();) {
            ssize_t count = write(fd, bytes.data() + at, bytes.size() - at);
            if (count > 0) {
                at += static_cast<size_t>(count);
            } else {
                pollfd room{fd, POLLOUT, 0};
                ASSERT_GE(poll(&room, 1, 2000), 1) << "no room to write for 2 s";
            }
        }
    }
    // Writes to a non-blocking descriptor until it takes nothing more for
    // ms; how many bytes went.
    static size_t SendUntilFull(int fd, char byte, int ms = 200) {
        std::string chunk(4096, byte);
        size_t sent = 0;
        for (;;) {
            ssize_t count = write(fd, chunk.data(), chunk.size());
            if (count > 0) {
                sent += static_cast<size_t>(count);
                continue;
            }
            pollfd room{fd, POLLOUT, 0};
            if (poll(&room, 1, ms) < 1) return sent;
        }
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
        static const char* const kinds[] = {"", "HELLO", "RX", "TX", "ANSWER", "", "ARRIVED", "LEFT"};
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
    // Every byte of a kind that the feed has brought, in order.
    std::string Recorded(uint8_t kind) const {
        std::string bytes;
        for (const FeedRecord& record : fed_) {
            if (record.Kind == kind) bytes += record.Payload;
        }
        return bytes;
    }
    // The events of the feed whose text begins with prefix.
    std::vector<std::string> Events(const std::string& prefix) const {
        std::vector<std::string> events;
        for (const FeedRecord& record : fed_) {
            if (record.Kind == tapfeed::kEvent && record.Payload.rfind(prefix, 0) == 0) events.push_back(record.Payload);
        }
        return events;
    }

    void Command(tapfeed::CommandKind kind, const std::string& payload = "") {
        Send(commands_[1], tapfeed::CommandRecord(kind, payload));
    }

    std::unique_ptr<CaptureWriter> capture_;  // set before the start to capture the session
    const LineOps* ops_ = &KernelLineOps();    // the relay's calls (a remote line's, where set)
    ApplicationSide side_;
    int client_ = -1;
    std::string link_;
    int feed_[2] = {-1, -1}, commands_[2] = {-1, -1}, stop_[2] = {-1, -1};
    std::thread thread_;
    tapfeed::FeedReader reader_;
    std::vector<FeedRecord> fed_;
};

}  // namespace tapwalk
