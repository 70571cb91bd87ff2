// The menu bar and the command terminal in-process, on real windows and
// menus: the pause items follow the focused port, the Description popup
// follows the ports, and a paused port's modem answers typed commands in the
// response edit, where driver notices blink too. Request bytes are read from
// the stand-in's request log.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "wire/request_codes.h"
#include "ui/window_commands.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "port/capture_ring.h"
#include "port/driver_notice.h"
#include "port/port_list.h"
#include "wire/port_property_records.h"
#include "support/message_box_capture.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"
#include "support/real_input.h"
#include "support/wire_client.h"
#include "ui/command_terminal.h"
#include "ui/main_window.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using testsupport::PortKeyAnd;
using testsupport::EditText;
using testsupport::Height;
using testsupport::PumpUntil;
using testsupport::Width;

struct MenuItem {
    bool Found = false;
    UINT Id = 0;
    std::string Text;
    bool Grayed = false;
    PortMonitor* Record = nullptr;
    bool operator==(const MenuItem&) const = default;
};

void PrintTo(const MenuItem& item, std::ostream* out) {
    *out << "{" << (item.Found ? "" : "not found, ") << item.Id << " " << testing::PrintToString(item.Text)
         << (item.Grayed ? " grayed" : "") << ", record " << item.Record << "}";
}

// A Description item that chooses the port, shown by its friendly name or by the text given.
MenuItem PortItem(UINT id, PortMonitor* port, const char* text = nullptr) {
    return {true, id, text ? text : port->FriendlyName, false, port};
}

MenuItem ReadItem(HMENU menu, UINT item, bool byPosition) {
    char text[128] = {};
    MENUITEMINFOA info = {.cbSize = sizeof(MENUITEMINFOA), .fMask = MIIM_ID | MIIM_STATE | MIIM_DATA | MIIM_STRING,
                          .dwTypeData = text, .cch = sizeof(text)};
    bool found = GetMenuItemInfoA(menu, item, byPosition, &info) != FALSE;
    return {found, info.wID, text, (info.fState & MFS_GRAYED) != 0, reinterpret_cast<PortMonitor*>(info.dwItemData)};
}

class MenuTerminalTest : public testsupport::MonitorTest {
protected:
    HMENU Bar() { return GetMenu(main_); }
    HMENU Popup() { return GetSubMenu(Bar(), 3); }
    std::vector<MenuItem> DescriptionItems() {
        std::vector<MenuItem> items;
        for (int i = 0; i < GetMenuItemCount(Popup()); ++i) items.push_back(ReadItem(Popup(), i, true));
        return items;
    }
    // The three pause items as "text/state" with '-' for grayed.
    std::string PauseItems() {
        std::string items;
        for (UINT id : {ID_PAUSE_TX, ID_PAUSE_RX, ID_PAUSE_BOTH}) {
            MenuItem item = ReadItem(Bar(), id, false);
            items += (items.empty() ? "" : "|") + item.Text + (item.Grayed ? "-" : "");
        }
        return items;
    }
    void Command(UINT id) { SendMessageA(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    void EditNotice(WORD code) {
        SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDC_COMMAND_EDIT, code), reinterpret_cast<LPARAM>(command_));
    }
    void Type(const std::string& keys) {
        for (char key : keys) SendMessageA(command_, WM_CHAR, static_cast<unsigned char>(key), 0);
    }
    void Tick() { SendMessageA(main_, WM_TIMER, 1, 0); }
    bool EditsEnabled() { return IsWindowEnabled(command_) && IsWindowEnabled(response_); }
    bool EditsDisabled() { return !IsWindowEnabled(command_) && !IsWindowEnabled(response_); }
    // Focuses the port's pane and pauses both of its directions.
    void PauseBoth(PortMonitor* port) {
        SetFocus(PaneOf(port));
        Command(ID_PAUSE_TX);
        Command(ID_PAUSE_RX);
    }
    void Lose(uint32_t key) {
        uint32_t count = PortCount;
        control::RemovePort(key);
        ASSERT_TRUE(PumpUntil([&] { return PortCount == count - 1; }));
    }
    // A modem arrives and the terminal takes it: the test ticks the timer
    // itself, both directions are paused, the command edit has the focus
    // and the request log starts empty. Returns the port's key.
    uint32_t OpenTerminal() {
        uint32_t key = Arrive(L"COM1");
        KillTimer(main_, RefreshTimerId);
        PauseBoth(PortOf(key));
        SetFocus(command_);
        EXPECT_TRUE(control::IsCommandChannelOpen(key));
        control::ClearRequestLog();
        return key;
    }
    std::vector<control::LoggedRequest> Writes() { return control::RequestLog(IOCTL_LINE_WRITE_COMMAND); }
};

TEST_F(MenuTerminalTest, TheBarComesWithTheFirstPortAndItsItemsChooseTheirPort) {
    EXPECT_EQ(Bar(), nullptr) << "no bar without a port";
    PortMonitor* a = PortOf(Arrive(L"COM1"));
    ASSERT_NE(Bar(), nullptr);
    EXPECT_EQ(GetMenuItemCount(Bar()), 4);
    EXPECT_EQ(PauseItems(), "Pause &TX-|Pause &RX-|&Pause TX/RX-");
    EXPECT_EQ(ReadItem(Bar(), 3, true).Text, "&Description");
    EXPECT_EQ(DescriptionItems(), std::vector<MenuItem>{PortItem(1101, a)});
    uint32_t com2 = Arrive(L"COM2");
    PortMonitor* b = PortOf(com2);
    EXPECT_EQ(DescriptionItems(), (std::vector<MenuItem>{PortItem(1101, a), PortItem(1102, b)}));

    // Only ids 1101 to 1100 + the item count are taken.
    for (UINT id : {1100u, 1103u}) {
        EXPECT_TRUE(testsupport::CaptureMessageBoxes([&] { Command(id); }, 500).empty()) << id;
    }
    testsupport::CapturedMessageBox box = testsupport::CaptureMessageBox([&] { Command(1102); });
    EXPECT_EQ(box.caption, "Port properties");
    EXPECT_NE(box.text.find("COM port:\tCOM2"), std::string::npos);
    EXPECT_EQ(box.owner, main_);

    // The terminal's port, focused, leaves: the terminal lets go of it
    // before it is freed, exactly its item goes, and the pause items gray
    // with the texts of no port as its pane closes.
    PauseBoth(b);
    ASSERT_EQ(CommandPort, b);
    HWND pane = PaneOf(b);
    Lose(com2);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(pane); }));
    EXPECT_EQ(CommandPort, nullptr);
    EXPECT_TRUE(EditsDisabled());
    EXPECT_EQ(DescriptionItems(), std::vector<MenuItem>{PortItem(1101, a)});
    EXPECT_EQ(PauseItems(), "Pause &TX-|Pause &RX-|&Pause TX/RX-");
}

TEST_F(MenuTerminalTest, ThePauseItemsFollowTheFocusedPortAndWhatTheDriverAccepts) {
    uint32_t com1 = Arrive(L"COM1");
    PortMonitor* a = PortOf(com1);
    EditNotice(EN_SETFOCUS);
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_SET_COMMAND_MODE).size(), 0u) << "ignored without a CommandPort";
    SetFocus(PaneOf(a));
    EXPECT_EQ(PauseItems(), "Pause &TX|Pause &RX|&Pause TX/RX");
    control::ClearRequestLog();
    Command(ID_PAUSE_TX);
    EXPECT_EQ(PauseItems(), "Activate &TX|Pause &RX|-");
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_TOGGLE_PAUSE).back().Input,
              PortKeyAnd(com1, std::string("\1\0\0\0", 4)));
    EXPECT_TRUE(EditsDisabled());
    Command(ID_PAUSE_RX);
    EXPECT_EQ(PauseItems(), "Activate &TX|Activate &RX|&Activate TX/RX");
    EXPECT_TRUE(EditsEnabled());
    EXPECT_EQ(CommandPort, a);
    // To the command edit: the items gray with their texts, the terminal
    // stays bound and opens the port's command channel.
    SetFocus(command_);
    EXPECT_EQ(PauseItems(), "Activate &TX-|Activate &RX-|&Activate TX/RX-");
    EXPECT_EQ(CommandPort, a);
    EXPECT_TRUE(control::IsCommandChannelOpen(com1));
    SetFocus(PaneOf(a));
    EXPECT_FALSE(control::IsCommandChannelOpen(com1)) << "the command edit's focus loss closes it";
    Command(ID_PAUSE_BOTH);
    EXPECT_EQ(PauseItems(), "Pause &TX|Pause &RX|&Pause TX/RX");
    EXPECT_TRUE(EditsDisabled());
    EXPECT_EQ(CommandPort, nullptr);
    // A toggle that the driver rejects changes no flag and so no text.
    control::InjectFault(IOCTL_LINE_TOGGLE_PAUSE, {});
    Command(ID_PAUSE_TX);
    EXPECT_EQ(PauseItems(), "Pause &TX|Pause &RX|&Pause TX/RX");
    EXPECT_FALSE(control::IsDirectionPaused(com1, kDirectionTx));
}

TEST_F(MenuTerminalTest, PortsWithoutANameShowTheirComNameAndLossesRenumberTheItems) {
    uint32_t com1 = Arrive(L"COM1");
    control::PortBlobs unnamed = emu::ModemPort(L"COM3", 3);
    unnamed.Properties[kPropFriendlyName].clear();
    uint32_t com3 = Arrive(unnamed);
    uint32_t empty = Arrive(emu::EmptyPort());
    EXPECT_EQ(DescriptionItems(), (std::vector<MenuItem>{PortItem(1101, PortOf(com1)),
                                                         PortItem(1102, PortOf(com3), "COM3"),
                                                         PortItem(1103, PortOf(empty), "(unnamed port)")}));
    // After a loss in the middle the items are renumbered in their order,
    // and the next arrival takes the next id.
    Lose(com3);
    uint32_t com4 = Arrive(L"COM4");
    EXPECT_EQ(DescriptionItems(), (std::vector<MenuItem>{PortItem(1101, PortOf(com1)),
                                                         PortItem(1102, PortOf(empty), "(unnamed port)"),
                                                         PortItem(1103, PortOf(com4))}));
    testsupport::CapturedMessageBox box = testsupport::CaptureMessageBox([&] { Command(1102); });
    EXPECT_EQ(box.caption, "Port properties") << "an unnamed port can be chosen like any other";

    Lose(com4);
    Lose(empty);
    ASSERT_NE(Bar(), nullptr);
    Lose(com1);
    EXPECT_EQ(Bar(), nullptr) << "the last port's loss removes the bar";
}

TEST_F(MenuTerminalTest, ATerminalConversationWithThePausedPortsModem) {
    uint32_t key = OpenTerminal();
    // "AT" and Enter: A, T, CR go out; both edits are cleared; the answer
    // shows at the next tick with CR and LF as '.'.
    Type("AT\r");
    ASSERT_EQ(Writes().size(), 1u);
    EXPECT_EQ(Writes()[0].Input, PortKeyAnd(key, "AT\r"));
    EXPECT_EQ(EditText(command_), "");
    EXPECT_EQ(EditText(response_), "");
    EXPECT_TRUE(ResponseMode);
    EditNotice(EN_CHANGE);
    EXPECT_TRUE(ResponseMode) << "a text change before the first tick keeps the response mode";
    Tick();
    EXPECT_EQ(EditText(response_), "AT...OK..");
    EXPECT_EQ(ResponseTicks, 1u);

    // A send while the response mode is on clears the edit, not the text,
    // and the earlier answer comes back with the new one behind it.
    SetWindowTextA(command_, "ATS7?\r\n");
    EditNotice(EN_VSCROLL);
    EXPECT_EQ(EditText(response_), "");
    EXPECT_EQ(ResponseTicks, 1u);
    Tick();
    EXPECT_EQ(EditText(response_), "AT...OK..ATS7?...050....OK..");
    EditNotice(EN_CHANGE);
    EXPECT_FALSE(ResponseMode) << "a text change after a tick ends it";

    // Zero bytes in an answer (S4, the line feed, set to 0) show as '.' like
    // CR and LF: what follows one is neither hidden behind it nor left there
    // for a later read (the dial's result, half a second on) to be joined to.
    Type("ATS4=0\r");
    Type("ATDT1\r");  // before the first tick: the same answer goes on
    Tick();
    EXPECT_EQ(EditText(response_), "ATS4=0...OK..ATDT1.");
    PumpUntil([&] {
        Tick();
        return EditText(response_).size() > 19;
    }, 3000);
    EXPECT_EQ(EditText(response_), "ATS4=0...OK..ATDT1...CONNECT 57600..");
    EditNotice(EN_CHANGE);

    // Enter on an empty line sends a single CR; a long line is cut to 198.
    Type("\r");
    EXPECT_EQ(Writes().back().Input, PortKeyAnd(key, "\r"));
    SetWindowTextA(command_, std::string(250, 'S').c_str());
    EditNotice(EN_VSCROLL);
    EXPECT_EQ(Writes().back().Input, PortKeyAnd(key, std::string(198, 'S')));
}

TEST_F(MenuTerminalTest, TheEscapeGoesAloneAfterItsGuardTimeAndTheResponseEditDropsNothing) {
    uint32_t key = OpenTerminal();
    // "+++": exactly three characters, half a second, then the follow-up.
    DWORD before = GetTickCount();
    Type("+++\r");
    DWORD waited = GetTickCount() - before;
    EXPECT_GE(waited, 495u);
    EXPECT_LT(waited, 1000u);
    EXPECT_EQ(Writes().back().Input, PortKeyAnd(key, "+++"));
    auto followups = control::RequestLog(IOCTL_LINE_ESCAPE_FOLLOWUP);
    ASSERT_EQ(followups.size(), 1u);
    EXPECT_EQ(followups[0].Input, PortKeyAnd(key, std::string("\1\1\0\0", 4)));
    EXPECT_GT(followups[0].Sequence, Writes().back().Sequence);
    EXPECT_TRUE(ResponseMode);
    // A pasted "+++" with more text behind it is the escape all the same,
    // and only the pluses go: anything right behind them would break the
    // modem's guard time.
    SetWindowTextA(command_, "+++\r\nATH");
    EditNotice(EN_VSCROLL);
    EXPECT_EQ(Writes().back().Input, PortKeyAnd(key, "+++"));
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_ESCAPE_FOLLOWUP).size(), 2u);
    EXPECT_EQ(EditText(command_), "") << "the rest goes with the line";

    // A response edit too narrow for one character drops nothing; a text
    // wider than the edit loses its front, at most an edit-width a tick.
    RECT placed = testsupport::RectInClient(main_, response_);
    std::strcpy(ResponseText, "HELLO");
    MoveWindow(response_, placed.left, placed.top, 1, Height(placed), FALSE);
    Tick();
    EXPECT_EQ(std::string(ResponseText).substr(0, 5), "HELLO");
    MoveWindow(response_, placed.left, placed.top, Width(placed), Height(placed), FALSE);
    std::memset(ResponseText, 'W', 390);
    Tick();
    size_t length = std::strlen(ResponseText);
    EXPECT_LT(length, 390u);
    EXPECT_GE(length, 195u) << "at most half of a text over twice the width goes";
    EXPECT_EQ(ResponseText[sizeof(ResponseText) - 1], 0);
}

TEST_F(MenuTerminalTest, ANoticeBlinksFourTimesAndWaitsOutTheResponseMode) {
    OpenTerminal();
    Type("AT\r");
    // A notice during the response mode waits for its end.
    PublishNotice(NoticeText, "RING on COM1", kNoticeSize);
    InterlockedExchange(&NoticeBlink, 1);
    Tick();
    Tick();
    EXPECT_EQ(NoticeBlink, 1);
    EXPECT_EQ(EditText(response_), "AT...OK..");
    EditNotice(EN_CHANGE);
    ASSERT_FALSE(ResponseMode);
    std::string seen;
    for (int step = 1; step <= 65; ++step) {
        Tick();
        seen += EditText(response_).empty() ? '.' : '#';
    }
    EXPECT_EQ(seen, ".......########........########........########........########..");
    EXPECT_EQ(NoticeBlink, 65);
    // A blink under way pauses at its step while a response is awaited.
    InterlockedExchange(&NoticeBlink, 9);
    Type("AT\r");
    Tick();
    EXPECT_EQ(NoticeBlink, 9);
    EditNotice(EN_CHANGE);
    Tick();
    EXPECT_EQ(EditText(response_), "RING on COM1");
    EXPECT_EQ(NoticeBlink, 10);
}

}  // namespace
