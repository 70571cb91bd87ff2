// The stand-in's relays on real serial lines: pty pairs made by socat, Wine
// serial ports mapped to their ends, Linux programs at the far ends, and the
// monitor in-process showing what passed. A tap sits between an
// application's line and a device's; a sniffer listens to a line's two
// directions on two read-only ports.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/scenario_parser.h"
#include "emulator/scenario_runner.h"
#include "emulator/test_control.h"
#include "wire/capture_records.h"
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

class SerialRelayTest : public testsupport::MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        ASSERT_TRUE(lab_.Ready()) << "socat, the prefix's dosdevices folder and serial_peer are needed";
    }

    void Play(const std::string& scenario) { emu::StartScenario(emu::scenario::ParseScenario(scenario)); }

    // The one port has arrived (again) and its ring is attached; its key.
    uint32_t PortArrived(uint32_t other = 0) {
        bool arrived = PumpUntil([&] {
            return PortCount == 1 && PortList->Header.PortKey != other &&
                   control::IsCaptureAttached(PortList->Header.PortKey);
        }, 10000);
        EXPECT_TRUE(arrived) << "the relay's port did not arrive";
        return arrived ? PortList->Header.PortKey : 0;
    }

    std::vector<std::string> Lines() { return testsupport::OwnListBoxLines(PaneOf(PortList)); }

    // Pumps until the pane shows `tx` and `rx` as what passed in each direction.
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

    // A tap between the pty pairs "app" (the application at app.a) and "dev"
    // (the device at dev.b), on COM70 and COM71 with the keys given; its
    // port's key once it has arrived, or 0.
    uint32_t StartTap(const std::string& keys) {
        if (!lab_.StartPair("app") || !lab_.StartPair("dev") || !lab_.MapPort("COM70", "app.b") ||
            !lab_.MapPort("COM71", "dev.a")) {
            ADD_FAILURE() << "the pty pairs of the tap";
            return 0;
        }
        Play("tap COM71 COM70" + keys);
        return PortArrived();
    }

    testsupport::LineLab lab_;
};

// An application's exchange and then a megabyte each way at once pass the
// tap intact, and the pane shows each direction's bytes in order.
TEST_F(SerialRelayTest, ATapPassesEveryByteBothWaysAndThePaneShowsThem) {
    uint32_t key = StartTap(" baud=9600");
    ASSERT_NE(key, 0u);
    EXPECT_STREQ(PortList->FriendlyName, "Tap of COM71");

    // The application asks, the device answers: TX line, then RX line.
    ASSERT_TRUE(lab_.StartPeer("dev.b", "--answer 'AT\\r=\\r\\nOK\\r\\n' --expect 3", "device1"));
    ASSERT_TRUE(lab_.StartPeer("app.a", "--send 'AT\\r' --expect 6", "application1"));
    EXPECT_EQ(lab_.WaitPeer("device1", 10000), "ok 3");
    EXPECT_EQ(lab_.WaitPeer("application1", 10000), "ok 6");
    EXPECT_EQ(lab_.ReadFile("device1"), "AT\r");
    EXPECT_EQ(lab_.ReadFile("application1"), "\r\nOK\r\n");
    ExpectPane("AT\r", "\r\nOK\r\n");
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u) << "a timing line before each run";
    EXPECT_EQ(lines[1], std::string(1, kTx) + "TX: AT\r");
    EXPECT_EQ(lines[3], std::string(1, kRx) + "RX: \r\nOK\r\n");

    // A megabyte each way at once, paced so that the ring never fills.
    constexpr size_t kBytes = 1 << 20;
    const std::string rate = " --rate 300000 --chunk 4096";
    ASSERT_TRUE(lab_.StartPeer("dev.b", "--pattern 1048576:2 --check 1 --expect 1048576" + rate, "device2"));
    ASSERT_TRUE(lab_.StartPeer("app.a", "--pattern 1048576:1 --check 2 --expect 1048576" + rate, "application2"));
    EXPECT_EQ(lab_.WaitPeer("device2", 30000), "ok 1048576");
    EXPECT_EQ(lab_.WaitPeer("application2", 30000), "ok 1048576");
    ExpectPane("AT\r" + testsupport::LinePattern(1).Take(kBytes), "\r\nOK\r\n" + testsupport::LinePattern(2).Take(kBytes),
               30000);
    EXPECT_EQ(control::DroppedRecords(key), 0u);
}

// While the terminal holds the tap's command channel, a typed command goes
// to the device and its answer to the response edit; the application's
// bytes wait meanwhile and reach the device once the channel closes.
TEST_F(SerialRelayTest, TheTerminalTalksToTheDeviceWhileTheApplicationWaits) {
    ASSERT_NE(StartTap(""), 0u);
    KillTimer(main_, RefreshTimerId);  // the test ticks the timer itself

    SetFocus(PaneOf(PortList));
    Command(ID_PAUSE_BOTH);
    SetFocus(command_);
    ASSERT_TRUE(PortList->CommandChannelOpen);
    // The device answers "AT\r", then expects the application's "ATH\r".
    ASSERT_TRUE(lab_.StartPeer("dev.b", "--answer 'AT\\r=\\r\\nOK\\r\\n' --expect 7", "device"));
    ASSERT_TRUE(lab_.StartPeer("app.a", "--send 'ATH\\r' --for-ms 1500", "application"));
    for (char key : std::string("AT\r")) SendMessageA(command_, WM_CHAR, static_cast<unsigned char>(key), 0);
    PumpUntil([&] {
        SendMessageA(main_, WM_TIMER, RefreshTimerId, 0);
        return testsupport::EditText(response_).find("OK") != std::string::npos;
    }, 5000);
    EXPECT_EQ(testsupport::EditText(response_), "..OK..");
    EXPECT_EQ(lab_.WaitPeer("application", 5000), "ok 0") << "the application heard nothing of the terminal";

    SetFocus(PaneOf(PortList));  // the command edit lets go: the channel closes
    EXPECT_EQ(lab_.WaitPeer("device", 5000), "ok 7");
    EXPECT_EQ(lab_.ReadFile("device"), "AT\rATH\r") << "the application's bytes came after the terminal's";
}

// A device that goes makes its port leave; the same device back brings a
// new pane; the application's side stays open all along.
TEST_F(SerialRelayTest, ADeviceThatGoesAndComesBackLeavesAndArrivesAgain) {
    uint32_t first = StartTap(" =Modem on \\x2Fdev\\x2FttyUSB0");
    ASSERT_NE(first, 0u);
    EXPECT_STREQ(PortList->FriendlyName, "Modem on /dev/ttyUSB0");

    // The application writes while the device is gone: nothing is lost.
    ASSERT_TRUE(lab_.StopPair("dev"));
    EXPECT_TRUE(PumpUntil([] { return PortCount == 0; }, 5000)) << "the port left with its device";
    ASSERT_TRUE(lab_.StartPeer("app.a", "--send 'ATZ\\r' --expect 6", "application"));
    testsupport::PumpFor(300);
    ASSERT_TRUE(lab_.StartPair("dev"));
    ASSERT_TRUE(lab_.StartPeer("dev.b", "--answer 'ATZ\\r=\\r\\nOK\\r\\n' --expect 4", "device"));
    ASSERT_NE(PortArrived(first), 0u);
    EXPECT_EQ(lab_.WaitPeer("device", 10000), "ok 4");
    EXPECT_EQ(lab_.ReadFile("device"), "ATZ\r");
    EXPECT_EQ(lab_.WaitPeer("application", 10000), "ok 6");
    EXPECT_EQ(lab_.ReadFile("application"), "\r\nOK\r\n");
}

// A sniffer shows both directions of a line written by two programs and
// writes nothing to either port; the command channel is refused.
TEST_F(SerialRelayTest, ASnifferShowsBothDirectionsOfALine) {
    ASSERT_TRUE(lab_.StartPair("tx") && lab_.StartPair("rx"));
    ASSERT_TRUE(lab_.MapPort("COM72", "tx.a") && lab_.MapPort("COM73", "rx.a"));
    Play("sniff COM72 COM73 baud=57600 format=7E1");
    ASSERT_NE(PortArrived(), 0u);
    EXPECT_STREQ(PortList->FriendlyName, "Sniff of COM72 and COM73");

    ASSERT_TRUE(lab_.StartPeer("tx.b", "--send 'ATDT5551234\\r' --for-ms 1000", "dialer"));
    ExpectPane("ATDT5551234\r", "");
    ASSERT_TRUE(lab_.StartPeer("rx.b", "--send '\\r\\nCONNECT 57600\\r\\n' --for-ms 1000", "modem"));
    ExpectPane("ATDT5551234\r", "\r\nCONNECT 57600\r\n");
    EXPECT_EQ(lab_.WaitPeer("dialer", 5000), "ok 0") << "nothing is written to a sniffed port";
    EXPECT_EQ(lab_.WaitPeer("modem", 5000), "ok 0");

    SetFocus(PaneOf(PortList));
    Command(ID_PAUSE_BOTH);
    SetFocus(command_);
    EXPECT_FALSE(control::IsCommandChannelOpen(PortList->Header.PortKey));
    EXPECT_FALSE(IsWindowEnabled(command_)) << "a refused channel disables the command edit";
}

}  // namespace
