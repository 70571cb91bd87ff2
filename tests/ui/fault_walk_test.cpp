// Every one of the sixteen requests failing in turn, in a whole walk of the
// program: failing at once, failing after pending, and cancelled by the
// driver. Each walk starts the monitor with the fault armed for the
// request's first call, lets a port arrive and stream, pauses it from the
// menu bar, talks to its modem, opens its properties, loses it and closes
// the window. Nothing may hang, what is shown must agree with the state, and
// the close must be over within 5 seconds. The outcome of each is tabled in
// the test's output.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "wire/request_codes.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "port/port_control.h"
#include "port/port_list.h"
#include "support/message_box_capture.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"
#include "support/real_input.h"
#include "support/table_rows.h"
#include "ui/command_terminal.h"
#include "ui/pause_menu_texts.h"
#include "ui/window_commands.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using Kind = control::RequestFault::Kind;
using testsupport::PumpFor;
using testsupport::PumpUntil;

struct FaultKind {
    const char* Name;
    control::RequestFault Fault;
};

const FaultKind kKinds[] = {
    {"fails at once", {.FaultKind = Kind::FailAtOnce, .Error = ERROR_GEN_FAILURE}},
    {"fails after pending", {.FaultKind = Kind::FailAfterPending, .Error = ERROR_GEN_FAILURE}},
    {"cancelled by the driver", {.FaultKind = Kind::FailAfterPending, .Error = ERROR_OPERATION_ABORTED}},
};

// What one walk saw.
struct Outcome {
    int PortsShown = 0;
    int Lines = 0;
    bool TxPaused = false, RxPaused = false;
    bool TerminalBound = false;
    std::string Answer;
    bool PropertiesShown = false;
    bool PortGone = false;
    DWORD CloseMs = 0;
};

// What a walk must show, as it differs from a walk that goes through; a fact
// set to {} is not checked. Every walk closes within 5 seconds.
struct Expected {
    int Ports = 1;                          // ports shown
    std::optional<bool> Gone = true;        // the port gone after it left
    bool Traffic = true;                    // at least the two lines of its traffic
    std::optional<bool> Paused = true;      // both directions, paused from the menu bar
    const char* Answer = "OK";              // what a terminal bound to the port shows
    bool Silent = false;                    // "OK" never shows
    std::optional<bool> Properties = true;  // the properties box shows
};

const Expected kWalksThrough{};
// A failed arrival wait ends the watcher: no port ever comes.
const Expected kNoPort{
    .Ports = 0, .Gone = {}, .Traffic = false, .Paused = {}, .Answer = nullptr, .Properties = {}};
// A wait that the driver cancels is the port's loss: it goes at once.
const Expected kPortLost{.Traffic = false, .Paused = {}, .Answer = nullptr, .Properties = false};
// A port whose attach failed at once keeps an empty pane until exit.
const Expected kEmptyPane{.Gone = false, .Traffic = false, .Paused = {}};
// A pending attach counts as done whatever its end: the program goes on, but
// the driver writes nothing into the ring.
const Expected kSilentRing{.Traffic = false};
// A rejected toggle flips nothing.
const Expected kNoPause{.Paused = false};
// Without its channel, the write or the read the modem's answer never shows.
const Expected kNoAnswer{.Answer = nullptr, .Silent = true};
// After "+++" in command mode the modem echoes the pluses.
const Expected kPlusesEchoed{.Answer = "+++"};

// A request, and what the walk shows when it fails in each way of kKinds.
struct RequestWalk {
    testsupport::RowPlace Place;
    uint32_t Code;
    const char* Name;
    Expected Shows[std::size(kKinds)];
};

const RequestWalk kWalks[] = {
    TABLE_ROW(IOCTL_LINE_GET_DRIVER_INFO, "driver info", {kWalksThrough, kWalksThrough, kWalksThrough}),
    TABLE_ROW(IOCTL_LINE_SET_CONFIG, "configuration", {kWalksThrough, kWalksThrough, kWalksThrough}),
    TABLE_ROW(IOCTL_LINE_SET_PERSISTENT, "persistent mode", {kWalksThrough, kWalksThrough, kWalksThrough}),
    TABLE_ROW(IOCTL_LINE_SHUTDOWN, "shutdown", {kWalksThrough, kWalksThrough, kWalksThrough}),
    TABLE_ROW(IOCTL_LINE_WAIT_PORT_ARRIVAL, "arrival wait", {kNoPort, kNoPort, kNoPort}),
    TABLE_ROW(IOCTL_LINE_GET_PORT_PROPERTIES, "properties", {kWalksThrough, kWalksThrough, kWalksThrough}),
    TABLE_ROW(IOCTL_LINE_ATTACH_CAPTURE, "attach", {kEmptyPane, kSilentRing, kSilentRing}),
    TABLE_ROW(IOCTL_LINE_WAIT_DATA, "data wait", {kWalksThrough, kWalksThrough, kPortLost}),
    TABLE_ROW(IOCTL_LINE_WAIT_SIGNAL, "signal wait", {kWalksThrough, kWalksThrough, kPortLost}),
    TABLE_ROW(IOCTL_LINE_WAIT_NOTICE, "notice wait", {kWalksThrough, kWalksThrough, kPortLost}),
    TABLE_ROW(IOCTL_LINE_DETACH_CAPTURE, "detach", {kWalksThrough, kWalksThrough, kWalksThrough}),
    TABLE_ROW(IOCTL_LINE_TOGGLE_PAUSE, "pause toggle", {kNoPause, kNoPause, kNoPause}),
    TABLE_ROW(IOCTL_LINE_SET_COMMAND_MODE, "command mode", {kNoAnswer, kNoAnswer, kNoAnswer}),
    TABLE_ROW(IOCTL_LINE_READ_RESPONSE, "response read", {kNoAnswer, kNoAnswer, kNoAnswer}),
    TABLE_ROW(IOCTL_LINE_WRITE_COMMAND, "command write", {kNoAnswer, kNoAnswer, kNoAnswer}),
    TABLE_ROW(IOCTL_LINE_ESCAPE_FOLLOWUP, "escape follow-up", {kPlusesEchoed, kPlusesEchoed, kPlusesEchoed}),
};

void ExpectFact(bool seen, std::optional<bool> expected, const char* fact) {
    if (expected) EXPECT_EQ(seen, *expected) << fact;
}

void ExpectOutcome(const Outcome& o, const Expected& expected) {
    EXPECT_LT(o.CloseMs, 5000u) << "the close is over within 5 s";
    EXPECT_EQ(o.PortsShown, expected.Ports);
    ExpectFact(o.PortGone, expected.Gone, "the port is gone");
    if (expected.Traffic) EXPECT_GE(o.Lines, 2) << "the traffic shows, also after a wait that failed";
    ExpectFact(o.TxPaused && o.RxPaused, expected.Paused, "both directions paused");
    if (o.TerminalBound && expected.Answer) EXPECT_NE(o.Answer.find(expected.Answer), std::string::npos);
    if (expected.Silent) EXPECT_EQ(o.Answer.find("OK"), std::string::npos) << "no answer shows";
    ExpectFact(o.PropertiesShown, expected.Properties, "the properties show");
}

std::string ItemText(HMENU bar, UINT id) {
    char text[64] = {};
    GetMenuStringA(bar, id, text, sizeof(text), MF_BYCOMMAND);
    return text;
}

class FaultWalk {
public:
    explicit FaultWalk(uint32_t code) : code_(code) {}

    Outcome Run() {
        Outcome outcome;
        EXPECT_TRUE(testsupport::StartMonitorInProcess(&main_));
        command_ = GetWindow(main_, GW_CHILD);
        KillTimer(main_, 1);  // the walk ticks itself
        PortMonitor* port = Arrive(outcome);
        if (port) {
            // A fault may lose the port on the way, and its record with it.
            uint32_t key = port->Header.PortKey;
            Stream(port, outcome);
            PauseAndTalk(port, outcome);
            outcome.PropertiesShown = !testsupport::CaptureMessageBoxes(
                [&] { SendMessageA(main_, WM_COMMAND, 1101, 0); }, 2000).empty();
            control::RemovePort(key);
            outcome.PortGone = PumpUntil([] { return PortCount == 0; }, 2000);
        }
        DWORD before = GetTickCount();
        testsupport::StopMonitorInProcess(main_);
        outcome.CloseMs = GetTickCount() - before;
        return outcome;
    }

private:
    // A port arrives; a second one when the first could not be set up.
    PortMonitor* Arrive(Outcome& outcome) {
        for (int n = 1; n <= 2 && PortCount == 0; ++n) {
            control::AddPort(emu::ModemPort(L"COM" + std::to_wstring(n), n));
            PumpUntil([] { return PortCount > 0; }, 1500);
        }
        outcome.PortsShown = static_cast<int>(PortCount);
        return PortList;
    }

    void Stream(PortMonitor* port, Outcome& outcome) {
        uint32_t key = port->Header.PortKey;
        PumpUntil([&] { return control::IsCaptureAttached(key); }, 1000);
        control::PushBytes(key, 2, "RING\r\n");
        control::Flash(key, 3);
        control::SendNotice(key, "walk notice");
        HWND pane = port->ListBox;
        PumpUntil([&] { return PortCount == 0 || SendMessageA(pane, LB_GETCOUNT, 0, 0) >= 2; }, 1000);
        PumpFor(50);
        outcome.Lines = PortCount ? static_cast<int>(SendMessageA(pane, LB_GETCOUNT, 0, 0)) : 0;
    }

    void PauseAndTalk(PortMonitor* port, Outcome& outcome) {
        if (PortCount == 0) return;
        SetFocus(port->ListBox);
        SendMessageA(main_, WM_COMMAND, ID_PAUSE_TX, 0);
        SendMessageA(main_, WM_COMMAND, ID_PAUSE_RX, 0);
        outcome.TxPaused = IsPaused(*port, PauseFlag::Tx);
        outcome.RxPaused = IsPaused(*port, PauseFlag::Rx);
        // The menu and the terminal say what the flags say.
        PauseItemTexts texts = PauseTexts(outcome.TxPaused, outcome.RxPaused);
        HMENU bar = GetMenu(main_);
        EXPECT_EQ(ItemText(bar, ID_PAUSE_TX), texts.Tx);
        EXPECT_EQ(ItemText(bar, ID_PAUSE_RX), texts.Rx);
        EXPECT_EQ(ItemText(bar, ID_PAUSE_BOTH), texts.Both);
        outcome.TerminalBound = CommandPort == port;
        EXPECT_EQ(outcome.TerminalBound, outcome.TxPaused && outcome.RxPaused);
        EXPECT_EQ(IsWindowEnabled(command_) != FALSE, outcome.TerminalBound);
        if (!outcome.TerminalBound) return;
        SetFocus(command_);
        for (std::string line : {"AT\r", "+++\r"}) {
            for (char key : line) SendMessageA(command_, WM_CHAR, static_cast<unsigned char>(key), 0);
            SendMessageA(main_, WM_TIMER, 1, 0);
            if (code_ != IOCTL_LINE_ESCAPE_FOLLOWUP) break;  // the escape only where its follow-up fails
        }
        outcome.Answer = testsupport::EditText(GetWindow(command_, GW_HWNDNEXT));
        SetFocus(port->ListBox);
    }

    uint32_t code_;
    HWND main_ = nullptr;
    HWND command_ = nullptr;
};

TEST(FaultWalkTest, EveryRequestFailingEveryWayLeavesAProgramThatShowsTheTruthAndCloses) {
    std::printf("%-17s %-24s %5s %5s %-5s %-5s %-24s %5s %4s %8s\n", "request", "fault", "ports", "lines",
                "tx/rx", "term", "answer", "props", "gone", "close ms");
    testsupport::CheckEachRow(kWalks, [](const RequestWalk& request) {
        for (size_t k = 0; k < std::size(kKinds); ++k) {
            const FaultKind& kind = kKinds[k];
            SCOPED_TRACE(std::string(request.Name) + ", " + kind.Name);
            testsupport::ResetStandIn();
            control::InjectFault(request.Code, kind.Fault);
            Outcome o = FaultWalk(request.Code).Run();
            std::printf("%-17s %-24s %5d %5d %d/%-3d %-5s %-24.24s %5s %4s %8lu\n", request.Name, kind.Name,
                        o.PortsShown, o.Lines, o.TxPaused, o.RxPaused, o.TerminalBound ? "bound" : "-",
                        o.Answer.c_str(), o.PropertiesShown ? "yes" : "no", o.PortGone ? "yes" : "no",
                        static_cast<unsigned long>(o.CloseMs));
            ExpectOutcome(o, request.Shows[k]);
        }
    });
}

}  // namespace
