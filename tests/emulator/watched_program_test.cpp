// quorvel-watch feeding the monitor, with a Windows program under Wine as
// the watched program: its COM port is linked to a pty (a socat pair's end)
// that quorvel-watch watches in the kernel; the monitor runs in-process and
// reads the watch's feed. Needs root (the watch's BPF); skipped otherwise.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/control/test_control.h"
#include "emulator/runner/scenario_runner.h"
#include "emulator/scenario/scenario_parser.h"
#include "port/port_list.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"
#include "support/process_windows.h"
#include "support/serial_lines.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using testsupport::PaneBytes;
using testsupport::PumpUntil;

constexpr char kTx = static_cast<char>(0xB6);
constexpr char kRx = static_cast<char>(0xB7);

class WatchedProgramTest : public testsupport::MonitorTest {
protected:
    std::vector<std::string> Lines() { return testsupport::OwnListBoxLines(PaneOf(PortList)); }

    // Pumps until the pane shows the line (or, with prefix, a line that
    // begins so), for 10 s at most; whether it does.
    bool PaneShows(const std::string& line, bool prefix = false) {
        return PumpUntil([&] {
            if (!PortList) return false;
            for (const std::string& shown : Lines()) {
                if (prefix ? shown.rfind(line, 0) == 0 : shown == line) return true;
            }
            return false;
        }, 10000);
    }

    // Pumps until a line from index `after` on says who closed the device,
    // for 10 s at most; whether one does. shown gets the pane's lines.
    bool PaneShowsCloseAfter(size_t after, std::string* shown) {
        std::vector<std::string> seen;
        bool closed = PumpUntil([&] {
            if (PortList) seen = Lines();
            for (size_t i = after; i < seen.size(); ++i) {
                if (seen[i].rfind("[closed by ", 0) == 0) return true;
            }
            return false;
        }, 10000);
        for (const std::string& line : seen) *shown += line + "\n";
        return closed;
    }

    testsupport::LineLab lab_;
};

// The program opens COM72, sets 9600 7E1 with SetCommState, writes a
// command and reads the answer: its port is there (socat, the pair's maker,
// held the device before the watch began), with the device's name first;
// the settings show as asked and as the pty kept them; both directions'
// bytes show; the close shows.
TEST_F(WatchedProgramTest, AWindowsProgramsSettingsAndBytesShowAsItMadeThem) {
    ASSERT_TRUE(lab_.Ready());
    std::string user;
    ASSERT_TRUE(lab_.RunProgram({"id", "-u"}, &user));
    if (user != "0\n") GTEST_SKIP() << "quorvel-watch needs root";
    ASSERT_TRUE(lab_.StartPair("dev") && lab_.MapPort("COM72", "dev.a"));
    std::string device;
    ASSERT_TRUE(lab_.RunProgram({"readlink", "-f", lab_.Path("dev.a")}, &device));
    device.pop_back();
    ASSERT_TRUE(lab_.StartWatch(device)) << lab_.ReadFile("watch.out");
    emu::StartScenario(emu::scenario::ParseScenario("watch " + lab_.WindowsPath("watch")));
    HANDLE port = CreateFileA("\\\\.\\COM72", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(PumpUntil([&] { return PortCount == 1 && control::IsCaptureAttached(PortList->Header.PortKey); }, 10000))
        << "the watched port did not arrive: " << lab_.ReadFile("watch.out");
    EXPECT_TRUE(PaneShows("[" + device + ": pseudo-terminal]"));
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);  // on a pty the bits and parity do not stick: the call may say so
    EXPECT_TRUE(PaneShows("[asked 9600 7E1, kept 9600 8N1]"));
    // Wine's server opened the device and passed its descriptor to the
    // program when it first needed it.
    EXPECT_TRUE(PaneShows("[received by emulator_tests. (pid ", true));
    ASSERT_TRUE(lab_.StartPeer("dev.b", "--answer ATI\\r=OK\\r\\n --expect 4", "peer.out"));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, "ATI\r", 4, &written, nullptr));
    EXPECT_EQ(lab_.WaitPeer("peer.out", 10000), "ok 4");
    char answer[4] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(port, answer, sizeof(answer), &read, nullptr) && read == 4);
    PumpUntil([&] { return PaneBytes(Lines(), kRx).size() >= 4; }, 10000);
    std::string shown;
    for (const std::string& line : Lines()) shown += line + "\n";
    EXPECT_EQ(PaneBytes(Lines(), kTx), "ATI\r") << shown;
    EXPECT_EQ(PaneBytes(Lines(), kRx), "OK\r\n");
    // The pair's socat holds the device too: the port stays, and the pane
    // says who closed it (the program, and Wine's server, which holds the
    // device for it, in either order).
    size_t before = Lines().size();
    CloseHandle(port);
    std::string seen;
    EXPECT_TRUE(PaneShowsCloseAfter(before, &seen)) << "no close in the pane:\n" << seen;
    EXPECT_TRUE(lab_.StopTap("watch"));
}

}  // namespace
