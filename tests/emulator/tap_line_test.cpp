// The stand-in's tap lines: quorvel-tap owns a real line (a socat pty pair
// as the device, its own pty as the application's side), the monitor runs
// in-process and reads the tap's feed, and Linux programs at both ends (or
// a Windows program on the tap's COM port) talk across it.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "emulator/scenario/scenario_parser.h"
#include "emulator/runner/scenario_runner.h"
#include "emulator/control/test_control.h"
#include "port/port_list.h"
#include "support/line_pattern.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"
#include "support/process_windows.h"
#include "support/real_input.h"
#include "support/serial_lines.h"
#include "ui/command_terminal.h"
#include "ui/main_window.h"
#include "ui/window_commands.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using testsupport::PaneBytes;
using testsupport::PumpUntil;

constexpr char kTx = static_cast<char>(0xB6);
constexpr char kRx = static_cast<char>(0xB7);

class TapLineTest : public testsupport::MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        ASSERT_TRUE(lab_.Ready()) << "socat, the prefix's dosdevices folder and serial_peer are needed";
    }

    // quorvel-tap on the pair "dev" (its device at dev.a, the device's far
    // end at dev.b), the application's side at the lab's "app", on COM70;
    // the monitor reads its feed. The port's key once it has arrived, or 0.
    uint32_t StartTap(const std::string& arguments = "") {
        if (!lab_.StartPair("dev") ||
            !lab_.StartTap("--com 70 --link " + lab_.Path("app") + " " + arguments + " " + lab_.Path("dev.a"))) {
            ADD_FAILURE() << "the pair or the tap: " << lab_.ReadFile("tap.out");
            return 0;
        }
        emu::StartScenario(emu::scenario::ParseScenario("tap COM70 " + lab_.TapFolder() + " =Tap of the lab"));
        bool arrived = PumpUntil([&] {
            return PortCount == 1 && control::IsCaptureAttached(PortList->Header.PortKey);
        }, 10000);
        EXPECT_TRUE(arrived) << "the tap's port did not arrive";
        return arrived ? PortList->Header.PortKey : 0;
    }

    std::vector<std::string> Lines() { return testsupport::OwnListBoxLines(PaneOf(PortList)); }

    // Pumps until the pane shows `line` `times` times (or 10 s); whether it does.
    bool PaneShows(const std::string& line, int times = 1, DWORD timeoutMs = 10000) {
        return PumpUntil([&] {
            int seen = 0;
            for (const std::string& shown : Lines()) seen += shown == line;
            return seen >= times;
        }, timeoutMs);
    }

    // Pumps until the pane shows `tx` and `rx` as what passed each way.
    void ExpectPane(const std::string& tx, const std::string& rx, DWORD timeoutMs = 10000) {
        PumpUntil([&] {
            std::vector<std::string> lines = Lines();
            return PaneBytes(lines, kTx).size() >= tx.size() && PaneBytes(lines, kRx).size() >= rx.size();
        }, timeoutMs);
        std::vector<std::string> lines = Lines();
        EXPECT_TRUE(PaneBytes(lines, kTx) == tx) << "TX in the pane: " << PaneBytes(lines, kTx).size() << " of "
                                                 << tx.size() << " bytes, or others";
        EXPECT_TRUE(PaneBytes(lines, kRx) == rx) << "RX in the pane: " << PaneBytes(lines, kRx).size() << " of "
                                                 << rx.size() << " bytes, or others";
    }

    void Command(UINT id) { SendMessageA(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    // The seconds that a pane's timing lines add up to: from the start of
    // its times to its last line.
    static double TimedSpan(const std::vector<std::string>& lines) {
        double seconds = 0;
        for (const std::string& line : lines) {
            double value = 0;
            char unit[4] = {};
            if (std::sscanf(line.c_str(), "{%lf%3[ms]}", &value, unit) == 2) seconds += unit[0] == 'm' ? value / 1000 : value;
        }
        return seconds;
    }

    testsupport::LineLab lab_;
};

// An application's exchange, then half a megabyte each way at once and
// unpaced, pass the tap intact; the pane shows every byte of each direction
// in order, none dropped, the tap's events as lines of their own, and times
// counted from the tap's start.
TEST_F(TapLineTest, ATapPassesEveryByteBothWaysAndThePaneShowsThemOnTheTapsClock) {
    uint32_t key = StartTap();
    ASSERT_NE(key, 0u);
    EXPECT_STREQ(PortList->FriendlyName, "Tap of the lab");

    ASSERT_TRUE(lab_.StartPeer("dev.b", "--answer AT\\r=\\r\\nOK\\r\\n --expect 3", "device1"));
    ASSERT_TRUE(lab_.StartPeer("app", "--send AT\\r --expect 6", "application1"));
    EXPECT_EQ(lab_.WaitPeer("device1", 10000), "ok 3");
    EXPECT_EQ(lab_.WaitPeer("application1", 10000), "ok 6");
    EXPECT_EQ(lab_.ReadFile("device1"), "AT\r");
    EXPECT_EQ(lab_.ReadFile("application1"), "\r\nOK\r\n");
    ExpectPane("AT\r", "\r\nOK\r\n");
    EXPECT_TRUE(PaneShows("[115200 8N1]"));
    EXPECT_TRUE(PaneShows("[application opened]"));
    EXPECT_TRUE(PaneShows(std::string(1, kTx) + "TX: AT\r"));
    std::vector<std::string> lines = Lines();
    double firstSeconds = 0;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::sscanf(lines[0].c_str(), "{%lf", &firstSeconds), 1) << lines[0];
    EXPECT_LT(firstSeconds, 60.0) << "the first time counts from the tap's start: " << lines[0];

    // Half a megabyte each way at once, unpaced: the line passes it in a few
    // hundredths of a second, five times what the ring holds, and the tap's
    // feed keeps what the ring has no room for yet. The device talks once the
    // application has its side open: before, its bytes would not be passed;
    // the application's bytes wait for it meanwhile in the line's buffers.
    constexpr size_t kBytes = 1 << 19;
    ASSERT_TRUE(lab_.StartPeer("app", "--pattern 524288:1 --check 2 --expect 524288", "application2"));
    ASSERT_TRUE(PaneShows("[application opened]", 2));
    ASSERT_TRUE(lab_.StartPeer("dev.b", "--pattern 524288:2 --check 1 --expect 524288", "device2"));
    EXPECT_EQ(lab_.WaitPeer("device2", 30000), "ok 524288");
    EXPECT_EQ(lab_.WaitPeer("application2", 30000), "ok 524288");
    ExpectPane("AT\r" + testsupport::LinePattern(1).Take(kBytes), "\r\nOK\r\n" + testsupport::LinePattern(2).Take(kBytes),
               30000);
    EXPECT_EQ(control::DroppedRecords(key), 0u);
}

// A Windows program on the tap's COM port sets 9600 with SetCommState: the
// device follows, and the pane says so.
TEST_F(TapLineTest, AWindowsProgramsSpeedChangeReachesTheDevice) {
    ASSERT_NE(StartTap(), 0u);
    HANDLE port = CreateFileA("\\\\.\\COM70", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    EXPECT_TRUE(PaneShows("[9600 8N1]"));
    std::string device;
    EXPECT_TRUE(lab_.RunProgram({"stty", "-F", lab_.Path("dev.a")}, &device));
    EXPECT_NE(device.find("speed 9600 baud"), std::string::npos) << "the device's speed: " << device;
    CloseHandle(port);
    EXPECT_TRUE(PaneShows("[application closed]"));
}

// While the terminal holds the tap's line, a typed command goes to the
// device and its answer to the response edit; the bytes of the application,
// which keeps its side open, wait meanwhile and reach the device once the
// channel closes, in order.
TEST_F(TapLineTest, TheTerminalTalksToTheDeviceWhileTheApplicationWaits) {
    ASSERT_NE(StartTap(), 0u);
    KillTimer(main_, RefreshTimerId);  // the test ticks the timer itself

    SetFocus(PaneOf(PortList));
    Command(ID_PAUSE_BOTH);
    SetFocus(command_);
    ASSERT_TRUE(PortList->CommandChannelOpen);
    ASSERT_TRUE(lab_.StartPeer("dev.b", "--answer AT\\r=\\r\\nOK\\r\\n --expect 7", "device"));
    ASSERT_TRUE(lab_.StartPeer("app", "--send ATH\\r --for-ms 4000", "application"));
    for (char key : std::string("AT\r")) SendMessageA(command_, WM_CHAR, static_cast<unsigned char>(key), 0);
    PumpUntil([&] {
        SendMessageA(main_, WM_TIMER, RefreshTimerId, 0);
        return testsupport::EditText(response_).find("OK") != std::string::npos;
    }, 5000);
    EXPECT_EQ(testsupport::EditText(response_), "..OK..");

    SetFocus(PaneOf(PortList));  // the command edit lets go: the channel closes
    EXPECT_EQ(lab_.WaitPeer("device", 5000), "ok 7");
    EXPECT_EQ(lab_.ReadFile("device"), "AT\rATH\r") << "the application's bytes came after the terminal's";
    EXPECT_EQ(lab_.WaitPeer("application", 5000), "ok 0") << "the application heard nothing of the terminal";
}

// A session captured by the tap and then replayed from its file shows the
// lines that the live one showed (its times may be cut differently), at the
// file's pace.
TEST_F(TapLineTest, AReplayOfTheCaptureShowsWhatTheLiveSessionShowed) {
    ASSERT_NE(StartTap("--capture " + lab_.Path("session.pcap")), 0u);
    ASSERT_TRUE(lab_.StartPeer("dev.b", "--answer ATI3\\r=\\r\\nV.90\\r\\n\\r\\nOK\\r\\n --expect 5", "device"));
    ASSERT_TRUE(lab_.StartPeer("app", "--send ATI3\\r --expect 14", "application"));
    EXPECT_EQ(lab_.WaitPeer("application", 10000), "ok 14");
    ASSERT_TRUE(PaneShows("[application closed]"));
    auto untimed = [](const std::vector<std::string>& lines) {
        std::vector<std::string> kept;
        for (const std::string& line : lines) {
            if (line.empty() || line[0] != '{') kept.push_back(line);
        }
        return kept;
    };
    std::vector<std::string> live = untimed(Lines());
    double liveSpan = TimedSpan(Lines());
    ASSERT_TRUE(lab_.StopTap());
    ASSERT_TRUE(PumpUntil([] { return PortCount == 0; }, 5000)) << "the tap's port leaves with its feed";

    emu::StartScenario(emu::scenario::ParseScenario("replay " + lab_.WindowsPath("session.pcap")));
    ASSERT_TRUE(PumpUntil([] { return PortCount == 1; }, 5000));
    EXPECT_STREQ(PortList->FriendlyName, ("Replay of " + lab_.WindowsPath("session.pcap")).c_str());
    ASSERT_TRUE(PumpUntil([&] { return untimed(Lines()).size() >= live.size(); }, 15000));
    EXPECT_EQ(untimed(Lines()), live);
    EXPECT_NEAR(TimedSpan(Lines()), liveSpan, 0.005) << "the times of the file: the span of the session";
}

// A sniffer's port refuses the command channel: the command edit stays off.
TEST_F(TapLineTest, ASniffersPortRefusesTheCommandChannel) {
    ASSERT_TRUE(lab_.StartPair("tx") && lab_.StartPair("rx"));
    ASSERT_TRUE(lab_.StartTap("--sniff " + lab_.Path("tx.a") + " " + lab_.Path("rx.a")));
    emu::StartScenario(emu::scenario::ParseScenario("tap SNIFF " + lab_.TapFolder()));
    ASSERT_TRUE(PumpUntil([] { return PortCount == 1 && control::IsCaptureAttached(PortList->Header.PortKey); }, 10000));
    EXPECT_STREQ(PortList->FriendlyName, "Sniffer SNIFF");
    ASSERT_TRUE(lab_.StartPeer("tx.b", "--send ATD\\r --for-ms 500", "dialer"));
    ExpectPane("ATD\r", "");
    SetFocus(PaneOf(PortList));
    Command(ID_PAUSE_BOTH);
    SetFocus(command_);
    EXPECT_FALSE(control::IsCommandChannelOpen(PortList->Header.PortKey));
    EXPECT_FALSE(IsWindowEnabled(command_)) << "a refused channel disables the command edit";
}

}  // namespace
