// The tap on a line on another machine: Debian's ser2net serves a pty over
// Telnet with the COM port option (RFC 2217) on loopback, the test holds
// the pty's master as the device's far end, and the relay talks to ser2net
// as it would across a network.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "tap/children.h"
#include "tap/line_walk.h"
#include "tap/remote_line.h"

namespace {

using namespace tapwalk;

// A port on loopback that nothing listens on now.
int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

// A client of the port on loopback: its socket, or -1.
int ConnectTo(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return fd;
    close(fd);
    return -1;
}

// A client that holds the line: one that ser2net has not closed 300 ms
// after it came (while it tears down a connection just ended, it turns the
// next one away as it would turn away a second).
int HoldLine(int port) {
    for (int tries = 0; tries < 20; ++tries) {
        int fd = ConnectTo(port);
        if (fd < 0) return -1;
        usleep(300000);
        char greeting[256];
        ssize_t count;
        while ((count = recv(fd, greeting, sizeof(greeting), MSG_DONTWAIT)) > 0) {
        }
        if (count < 0 && errno == EAGAIN) return fd;
        close(fd);
    }
    return -1;
}

bool Listening(int port) {
    int fd = ConnectTo(port);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

// ser2net serving one device on a port of loopback, over Telnet with RFC
// 2217, in the foreground as a child of the test.
class Ser2net {
public:
    Ser2net(const std::string& device, int port) : port_(port) {
        char folder[] = "/tmp/quorvel-ser2net-XXXXXX";
        folder_ = mkdtemp(folder) ? folder : "";
        file_ = folder_ + "/ser2net.yaml";
        std::ofstream(file_) << "connection: &line\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
                             << "\n  connector: serialdev," << device << ",115200n81,local\n";
    }
    ~Ser2net() {
        Stop();
        unlink(file_.c_str());
        rmdir(folder_.c_str());
    }
    bool Start() {
        pid_ = tap::StartChild(access("/usr/sbin/ser2net", X_OK) == 0 ? "/usr/sbin/ser2net" : "/usr/bin/ser2net",
                               {"-n", "-c", file_});
        for (int i = 0; i < 500; ++i) {
            if (Listening(port_)) return true;
            usleep(10000);
        }
        return false;
    }
    void Stop() {
        tap::EndChild(pid_, 2000);
        pid_ = -1;
    }

private:
    int port_;
    std::string folder_, file_;
    pid_t pid_ = -1;
};

class RemoteWalk : public LineWalk {
protected:
    void SetUp() override {
        port_ = FreePort();
        path_ = "rfc2217://127.0.0.1:" + std::to_string(port_);
        server_ = std::make_unique<Ser2net>(device_.Slave, port_);
        ASSERT_TRUE(server_->Start()) << "ser2net did not listen on " << port_;
    }
    // A tap whose device is the remote line, started as quorvel-tap starts
    // it: connected, then given the settings and their answers awaited.
    void StartRemoteTap() {
        RelayConfig config = Pipes();
        config.DevicePath = path_;
        std::string why;
        ASSERT_TRUE(ResolveRemoteLine(path_, &why)) << why;
        config.Device = ConnectRemoteLine(path_, 3000);
        if (config.Device >= 0) {
            ASSERT_TRUE(RemoteLineOps().ApplySettings(config.Device, config.Settings));
        }
        ASSERT_TRUE(MakeApplicationSide(config.Settings, &side_, &why)) << why;
        config.Master = side_.Master;
        config.ApplicationWatch = side_.Watch;
        ops_ = &RemoteLineOps();
        Run(config);
    }
    // Every byte value, 16 times over, from the application to the device
    // and back; what was sent.
    std::string PassEveryByteValueBothWays() {
        std::string every;
        for (int byte = 0; byte < 16 * 256; ++byte) every.push_back(static_cast<char>(byte));
        SendAll(client_, every);
        EXPECT_EQ(Receive(device_.Master, every.size()), every);
        SendAll(device_.Master, every);
        EXPECT_EQ(Receive(client_, every.size()), every);
        return every;
    }
    // The device's settings as the server left them: speed, stop bits,
    // flow control.
    std::string OnDevice() const {
        termios record{};
        if (tcgetattr(device_.Master, &record) != 0) return "none";
        return std::to_string(cfgetospeed(&record)) + ((record.c_cflag & CSTOPB) ? " 2" : " 1") +
               ((record.c_cflag & CRTSCTS) ? " rtscts" : "") + ((record.c_iflag & IXON) ? " xonxoff" : "");
    }

    Pty device_;
    int port_ = 0;
    std::string path_;
    std::unique_ptr<Ser2net> server_;
};

// One connection walked: a line in use by another client at the start
// (ser2net greets the tap, says so and closes: gone, and nothing of it
// shown as the device's; back once the other client leaves), AT/OK, a speed change read back on the device, every byte value
// both ways (0xFF goes doubled on the wire), a setting the server does not
// answer (a hang-up: a pty behind it has no DTR), and the server stopped
// and started again: gone, back, the settings given again, and the line
// passing as before. The pane's events tell it all, in order.
TEST_F(RemoteWalk, ALineThroughSer2netPassesEveryByteFollowsItsSettingsAndComesBack) {
    int other = HoldLine(port_);
    ASSERT_GE(other, 0) << "no other client could hold the line";
    ASSERT_NO_FATAL_FAILURE(StartRemoteTap());
    ASSERT_TRUE(FeedHas("[device gone]"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // tried twice meanwhile
    close(other);
    ASSERT_TRUE(FeedUntil([&] { return Events("[115200 8N1]").size() == 2; }, 5000));
    EXPECT_EQ(Events("[device back]").size(), 1u);
    EXPECT_EQ(Recorded(tapfeed::kRx), "");
    OpenClient();
    SetClientSpeed(B115200);
    Send(client_, "AT\r");
    EXPECT_EQ(Receive(device_.Master, 3), "AT\r");
    Send(device_.Master, "\r\nOK\r\n");
    EXPECT_EQ(Receive(client_, 6), "\r\nOK\r\n");

    SetClientSpeed(B57600);
    ASSERT_TRUE(FeedHas("[57600 8N1]"));
    EXPECT_EQ(OnDevice(), std::to_string(B57600) + " 1");

    std::string every = PassEveryByteValueBothWays();
    ASSERT_TRUE(FeedUntil([&] { return Recorded(tapfeed::kRx).size() >= 6 + every.size(); }));
    EXPECT_EQ(Recorded(tapfeed::kTx), "AT\r" + every);
    EXPECT_EQ(Recorded(tapfeed::kRx), "\r\nOK\r\n" + every);

    SetClientSpeed(B0);
    ASSERT_TRUE(FeedUntil([&] { return Has("[settings refused: 0 baud: hang-up]"); }, 5000));
    SetClientSpeed(B57600);

    server_->Stop();
    ASSERT_TRUE(FeedHas("[device gone]"));
    ASSERT_TRUE(server_->Start());
    ASSERT_TRUE(FeedUntil([&] { return Events("[57600 8N1]").size() == 2; }, 5000)) << testing::PrintToString(Events("["));
    Send(client_, "ATI\r");
    EXPECT_EQ(Receive(device_.Master, 4), "ATI\r");
    Send(device_.Master, "OK\r\n");
    EXPECT_EQ(Receive(client_, 4), "OK\r\n");
    // The modem lines (ser2net tells a pty's as all off) come as the server
    // tells them, before or after the settings' answers: counted apart.
    ASSERT_TRUE(FeedUntil([&] { return Events("[lines on").size() == 2; }));
    EXPECT_EQ(Events("[lines on"), std::vector<std::string>(2, "[lines on: none]"));
    std::vector<std::string> events = Events("[");
    std::erase(events, "[lines on: none]");
    EXPECT_EQ(events, (std::vector<std::string>{"[115200 8N1]", "[device gone]", "[device back]", "[115200 8N1]",
                                                "[application opened]", "[57600 8N1]",
                                                "[settings refused: 0 baud: hang-up]", "[device gone]",
                                                "[device back]", "[57600 8N1]"}));
}

// pyserial's RFC 2217 client and the tap, each through ser2net, leave the
// device with the same speed, stop bits and flow control.
TEST_F(RemoteWalk, PyserialsClientAndTheTapSetTheDeviceAlike) {
    struct Case {
        speed_t Speed;
        tcflag_t Control, Input;
        const char* Python;  // the same settings for pyserial
        const char* Shown;   // the pane's line once the server has answered the tap
    };
    const Case cases[] = {{B9600, 0, 0, "baudrate=9600", "[9600 8N1]"},
                          {B57600, CSTOPB | CRTSCTS, 0, "baudrate=57600, stopbits=2, rtscts=True", "[57600 8N2 RTS/CTS]"},
                          {B19200, 0, IXON | IXOFF, "baudrate=19200, xonxoff=True", "[19200 8N1 XON/XOFF]"}};
    ASSERT_NO_FATAL_FAILURE(StartRemoteTap());
    OpenClient();
    std::vector<std::string> byTap;
    for (const Case& each : cases) {
        termios record{};
        ASSERT_EQ(tcgetattr(client_, &record), 0);
        cfmakeraw(&record);
        record.c_cflag = (record.c_cflag & ~static_cast<tcflag_t>(CSTOPB | CRTSCTS)) | each.Control;
        record.c_iflag |= each.Input;
        cfsetispeed(&record, each.Speed);
        cfsetospeed(&record, each.Speed);
        ASSERT_EQ(tcsetattr(client_, TCSANOW, &record), 0);
        ASSERT_TRUE(FeedHas(each.Shown)) << testing::PrintToString(Events("["));
        byTap.push_back(OnDevice());
    }
    StopRelay();
    CloseClient();
    // pyserial's client, with the device's settings read while it holds the
    // line (the script's one line of output, as OnDevice says them).
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string script =
            "import os, serial, termios\n"
            "s = serial.serial_for_url('" + path_ + "?ign_set_control', " + cases[i].Python + ", timeout=1)\n"
            "a = termios.tcgetattr(os.open('" + device_.Slave + "', os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK))\n"
            "print(str(a[5]) + (' 2' if a[2] & termios.CSTOPB else ' 1') + (' rtscts' if a[2] & termios.CRTSCTS else '')"
            " + (' xonxoff' if a[0] & termios.IXON else ''))\n";
        FILE* python = popen(("/usr/bin/python3 -c \"" + script + "\"").c_str(), "r");
        ASSERT_NE(python, nullptr);
        char line[128] = {};
        std::string said = std::fgets(line, sizeof(line), python) ? line : "";
        EXPECT_EQ(pclose(python), 0);
        EXPECT_EQ(said, byTap[i] + "\n") << cases[i].Python;
    }
}

}  // namespace
