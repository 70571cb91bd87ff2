// Whole runs of quorvel-emu.exe driven as a person would: real clicks and
// keys through the X server, and everything read from outside the process
// (pane lines, edit texts, positions, enabled states, message boxes).
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "emulator/control/test_control.h"
#include "support/message_box_capture.h"
#include "support/message_pump.h"
#include "support/process_runner.h"
#include "support/process_windows.h"
#include "support/real_input.h"
#include "support/test_paths.h"
#include "ui/window_commands.h"

namespace {

using namespace testsupport;
using quorvel::kMainWindowClass;
namespace control = emu::control;

constexpr DWORD kRunTimeoutMs = 60000;

// The program's windows as a user sees them.
struct Screen {
    HWND Main = nullptr;
    HWND Command() const { return GetWindow(Main, GW_CHILD); }
    HWND Response() const { return GetWindow(Command(), GW_HWNDNEXT); }
    std::vector<HWND> Panes() const {
        std::vector<HWND> children = ChildWindows(Main);
        return std::vector<HWND>(children.begin() + (children.size() > 2 ? 2 : children.size()), children.end());
    }
    // The pane whose lines contain text, or null.
    HWND PaneWith(const std::string& text) const {
        for (HWND pane : Panes()) {
            for (const std::string& line : ListBoxLines(pane)) {
                if (line.find(text) != std::string::npos) return pane;
            }
        }
        return nullptr;
    }
    // Clicks the menu bar's item index (the bar is the strip above the client area).
    void ClickMenuItem(int index) const {
        POINT origin = {0, 0};
        ClientToScreen(Main, &origin);
        int menuBottom = origin.y;
        int menuTop = menuBottom - GetSystemMetrics(SM_CYMENU);
        // The items are "Pause &TX", "Pause &RX", "&Pause TX/RX": about 60 pixels each.
        ClickAt(origin.x + 25 + index * 65, (menuTop + menuBottom) / 2);
    }
};

class UserSession : public testing::Test {
protected:
    void SetUp() override { control::ResetServices(); }
    void TearDown() override { control::ResetServices(); }
};

// Runs the monitor on a scenario, lets act play the user once its window is
// up, then closes the window as a user does; the program must then end on
// its own with exit code 0. Returns how the process ended.
ProcessResult RunSession(const std::string& scenario, const std::function<void(DWORD, const Screen&)>& act) {
    ProcessResult run = RunProcess(MonitorProgram(), scenario, kRunTimeoutMs, [&](DWORD process) {
        Screen screen;
        screen.Main = WaitForProcessWindow(process, kMainWindowClass);
        ASSERT_NE(screen.Main, nullptr);
        act(process, screen);
        PostMessageA(screen.Main, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(run.exited) << "no process left behind";
    if (run.exited) EXPECT_EQ(run.exitCode, 0u);
    return run;
}

// The panes: arrival order in sibling order; each run a line of its own
// behind its timing line, in the order the bytes passed.
void ReadTheTraffic(const Screen& screen) {
    ASSERT_TRUE(PumpUntil([&] { return screen.Panes().size() == 3 && screen.PaneWith("OK") && screen.PaneWith("ATA"); }));
    std::vector<std::string> com1 = ListBoxLines(screen.PaneWith("OK"));
    ASSERT_EQ(com1.size(), 4u);
    EXPECT_EQ(com1[1], "\xB6TX: ATZ\r");
    EXPECT_EQ(com1[3], "\xB7RX: ATZ\r\r\nOK\r\n");
    EXPECT_EQ(com1[2].front(), '{');
    std::vector<std::string> com2 = ListBoxLines(screen.PaneWith("ATA"));
    ASSERT_EQ(com2.size(), 4u);
    EXPECT_EQ(com2[1], "\xB7RX: \r\nRING\r\n");
    EXPECT_EQ(com2[3], "\xB6TX: ATA\r");
    EXPECT_TRUE(ListBoxLines(screen.Panes()[2]).empty());
}

// The quiet port's two directions paused, one by its accelerator and one by
// mouse; then "AT" typed into the terminal.
void PauseTheQuietPortAndTalkToIt(const Screen& screen) {
    EXPECT_FALSE(IsWindowEnabled(screen.Command()));
    ClickWindow(screen.Panes()[2]);
    PressKeys("alt+t");  // "Pause &TX"
    Sleep(200);
    EXPECT_FALSE(IsWindowEnabled(screen.Command())) << "one direction paused: no terminal";
    screen.ClickMenuItem(1);  // "Pause &RX" by mouse
    ASSERT_TRUE(PumpUntil([&] { return IsWindowEnabled(screen.Command()) != FALSE; }))
        << "both paused: the terminal is usable";
    ClickWindow(screen.Command());
    TypeText("AT");
    PressKeys("Return");
    ASSERT_TRUE(PumpUntil([&] { return EditText(screen.Response()).find("OK") != std::string::npos; }))
        << EditText(screen.Response());
    EXPECT_EQ(EditText(screen.Response()), "AT...OK..");
    EXPECT_EQ(EditText(screen.Command()), "");
}

// "&Description" and its first item, COM1's box; then a client area lower
// than the edits and back, and a minimise and restore.
void ReadPropertiesResizeAndMinimise(DWORD process, const Screen& screen) {
    PressKeys("alt+d Return");
    CapturedMessageBox box = WaitForProcessMessageBox(process, 5000);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, "Port properties");
    EXPECT_NE(box.text.find("COM port:\tCOM1"), std::string::npos);

    RECT before;
    GetWindowRect(screen.Main, &before);
    SetWindowPos(screen.Main, nullptr, 0, 0, before.right - before.left, 40, SWP_NOMOVE | SWP_NOZORDER);
    Sleep(300);
    EXPECT_TRUE(IsWindow(screen.Main));
    SetWindowPos(screen.Main, nullptr, 0, 0, before.right - before.left, before.bottom - before.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    Sleep(300);
    RECT pane;
    GetWindowRect(screen.Panes()[0], &pane);
    EXPECT_GT(pane.bottom - pane.top, 20) << "the panes are laid out again";
    ShowWindow(screen.Main, SW_MINIMIZE);
    Sleep(300);
    ShowWindow(screen.Main, SW_RESTORE);
    ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(screen.Panes()[2]) != FALSE; }));
    EXPECT_EQ(ListBoxLines(screen.PaneWith("OK")).size(), 4u) << "nothing lost on the way";
}

// Three modems with traffic; a user picks the quiet one, pauses both of its
// directions, talks to its modem, reads its properties, resizes, minimises
// and restores the window, closes it.
TEST_F(UserSession, TrafficPauseTerminalPropertiesResizeAndClose) {
    std::string scenario =
        "/s=port COM1;@100 tx ATZ\\r;+50 rx ATZ\\r\\r\\nOK\\r\\n;"
        "port COM2;@100 rx \\r\\nRING\\r\\n;+50 tx ATA\\r;"
        "port COM3 =Quiet modem";
    RunSession(scenario, [](DWORD process, const Screen& screen) {
        ASSERT_NO_FATAL_FAILURE(ReadTheTraffic(screen));
        ASSERT_NO_FATAL_FAILURE(PauseTheQuietPortAndTalkToIt(screen));
        ReadPropertiesResizeAndMinimise(process, screen);
    });
}

// Ports that come and go around what the user does: one arrives while a
// "Port properties" box is open, one leaves while its Description item is
// being chosen, one leaves while it is the terminal's port.
TEST_F(UserSession, PortsComeAndGoWhileTheUserIsBusyWithThem) {
    RunSession("/s=port COM1-4500;port COM2-8500;port COM3@2500", [](DWORD process, const Screen& screen) {
        DWORD start = GetTickCount();
        auto at = [&](DWORD ms) { while (GetTickCount() - start < ms) Sleep(20); };
        ASSERT_TRUE(PumpUntil([&] { return screen.Panes().size() == 2; }));
        ClickWindow(screen.Panes()[0]);
        // A box open while COM3 arrives.
        PressKeys("alt+d Return");
        ASSERT_NE(WaitForProcessWindow(process, "#32770", 5000), nullptr);
        at(3500);
        ASSERT_TRUE(WaitForProcessMessageBox(process, 5000).found);
        EXPECT_TRUE(PumpUntil([&] { return screen.Panes().size() == 3; })) << "COM3 is there once the box has closed";
        // COM1, the first Description item, leaves while the popup is open
        // with it highlighted; Enter then chooses whatever is there.
        PressKeys("alt+d");
        at(5000);
        EXPECT_TRUE(PumpUntil([&] { return screen.Panes().size() == 2; }));
        PressKeys("Return");
        CapturedMessageBox box = WaitForProcessMessageBox(process, 1500);
        if (box.found) EXPECT_EQ(box.caption, "Port properties");
        PressKeys("Escape");
        // COM2 is the terminal's port when it leaves.
        ClickWindow(screen.Panes()[0]);
        PressKeys("alt+t");
        PressKeys("alt+r");
        ASSERT_TRUE(PumpUntil([&] { return IsWindowEnabled(screen.Command()) != FALSE; }));
        ClickWindow(screen.Command());
        at(9000);
        EXPECT_TRUE(PumpUntil([&] { return screen.Panes().size() == 1; }));
        EXPECT_FALSE(IsWindowEnabled(screen.Command())) << "the terminal let go of its port";
        EXPECT_FALSE(IsWindowEnabled(screen.Response()));
    });
}

// The worst moments to close the window at: each a scenario and what the
// user does before the close.
struct Moment {
    const char* Name;
    std::string Scenario;
    void (*Act)(DWORD process, const Screen& screen);
};

std::vector<Moment> WorstMoments() {
    std::string eightPorts;
    for (int n = 1; n <= 8; ++n) eightPorts += "port COM" + std::to_string(n) + ";gen rate=184320 run=64;";
    std::string arrivals;
    for (int n = 1; n <= 40; ++n) arrivals += "port COM" + std::to_string(n) + "@" + std::to_string(n * 5) + ";";
    return {
        {"during a burst on 8 ports", eightPorts,
         [](DWORD, const Screen& screen) {
             PumpUntil([&] { return screen.Panes().size() == 8 && !ListBoxLines(screen.Panes()[7]).empty(); });
         }},
        {"during a flash", "port COM1;@100 flash 3;+200 loop",
         [](DWORD, const Screen& screen) {
             PumpUntil([&] { return screen.Panes().size() == 1 && !IsWindowVisible(screen.Panes()[0]); });
         }},
        {"while a Port properties box is open", "port COM1",
         [](DWORD process, const Screen& screen) {
             PumpUntil([&] { return screen.Panes().size() == 1; });
             ClickWindow(screen.Panes()[0]);
             PressKeys("alt+d Return");
             WaitForProcessWindow(process, "#32770", 5000);
         }},
        {"during the escape's half second", "port COM1",
         [](DWORD, const Screen& screen) {
             PumpUntil([&] { return screen.Panes().size() == 1; });
             ClickWindow(screen.Panes()[0]);
             PressKeys("alt+p");  // "&Pause TX/RX"
             PumpUntil([&] { return IsWindowEnabled(screen.Command()) != FALSE; });
             ClickWindow(screen.Command());
             TypeText("+++");
             XDoTool({"key", "--delay", "0", "Return"});
         }},
        {"while arrivals are being handed over", arrivals,
         [](DWORD, const Screen& screen) { PumpUntil([&] { return !screen.Panes().empty(); }); }},
    };
}

// ---- A pane's menu: copy, copy as hex, show as hex -------------------------

// The screen rectangle of a pane's line (asked from outside the process).
RECT LineOnScreen(HWND pane, int index) {
    RECT line = {};
    SendMessageA(pane, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&line));
    MapWindowPoints(pane, nullptr, reinterpret_cast<POINT*>(&line), 2);
    return line;
}

bool ClickLine(HWND pane, int index, const char* button, const char* held = nullptr) {
    RECT line = LineOnScreen(pane, index);
    std::vector<std::string> arguments;
    if (held) arguments.insert(arguments.end(), {"keydown", held});
    arguments.insert(arguments.end(), {"mousemove", std::to_string(line.left + 20),
                                       std::to_string((line.top + line.bottom) / 2), "click", button});
    if (held) arguments.insert(arguments.end(), {"keyup", held});
    return XDoTool(arguments);
}

// The program's open popup menu, or null.
HWND OpenPopupMenu(DWORD process) { return WaitForProcessWindow(process, "#32768", 0); }

std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* bytes = static_cast<const char*>(GlobalLock(data))) text = bytes;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// Right-clicks the line and picks the menu item that `downs` presses of the
// Down key reach (Wine lets no other process read a menu's texts; the menu's
// own test reads them).
void PickFromMenu(DWORD process, HWND pane, int line, int downs) {
    EXPECT_TRUE(ClickLine(pane, line, "3"));
    EXPECT_TRUE(PumpUntil([&] { return OpenPopupMenu(process) != nullptr; })) << "the pane's menu shows";
    std::string keys;
    for (int i = 0; i < downs; ++i) keys += "Down ";
    PressKeys(keys + "Return");
    EXPECT_TRUE(PumpUntil([&] { return OpenPopupMenu(process) == nullptr; }));
}

// Empties the clipboard, picks the item and returns what the clipboard then
// holds.
std::string CopyByMenu(DWORD process, HWND pane, int line, int downs) {
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
    PickFromMenu(process, pane, line, downs);
    PumpUntil([&] { return !ClipboardText().empty(); });
    return ClipboardText();
}

std::string Joined(const std::vector<std::string>& lines, size_t first, size_t count) {
    std::string text;
    for (size_t i = first; i < first + count; ++i) text += (i > first ? "\r\n" : "") + lines[i];
    return text;
}

// Whether the text is the pane's first lines (it holds more by now: a
// session goes on), joined as a copy joins them.
bool IsFirstLinesOf(const std::string& text, HWND pane) {
    std::vector<std::string> lines = ListBoxLines(pane);
    for (size_t count = 1; count <= lines.size(); ++count) {
        if (Joined(lines, 0, count) == text) return true;
    }
    return false;
}

// A modem whose answer holds a zero byte, CR, LF and 0xFF, every 1.5 s: the
// user copies one line, a Shift range, everything (by keys and by menu), the
// answer as hex (whole, though the pane shows it only up to the zero), and
// switches the pane to hex, after which the next answer shows as pairs.
TEST_F(UserSession, ThePaneMenuCopiesLinesAsTheyAreAndAsHexAndShowsNewRunsAsHex) {
    std::string scenario = "/s=port COM1;@100 tx ATZ\\r;@200 rx \\r\\n\\xFF\\x00OK;@1500 loop";
    const std::string hexAnswer = "\xB7RX: 0D 0A FF 00 4F 4B";
    RunSession(scenario, [&](DWORD process, const Screen& screen) {
        ASSERT_TRUE(PumpUntil([&] { return screen.Panes().size() == 1 && ListBoxLines(screen.Panes()[0]).size() >= 4; }));
        HWND pane = screen.Panes()[0];
        std::vector<std::string> lines = ListBoxLines(pane);
        EXPECT_EQ(lines[1], "\xB6TX: ATZ\r");
        EXPECT_EQ(lines[3], "\xB7RX: \r\n\xFF") << "shown up to the zero byte";
        EXPECT_EQ(CopyByMenu(process, pane, 1, 1), lines[1]) << "Copy: the line under the mouse";
        EXPECT_EQ(CopyByMenu(process, pane, 3, 3), hexAnswer) << "Copy as hex: the whole run";
        ClickLine(pane, 1, "1");
        PressKeys("shift+F10");
        EXPECT_TRUE(PumpUntil([&] { return OpenPopupMenu(process) != nullptr; })) << "Shift+F10 opens the menu";
        PressKeys("Escape");
        EXPECT_TRUE(PumpUntil([&] { return OpenPopupMenu(process) == nullptr; }));
        ClickLine(pane, 3, "1", "shift");
        PressKeys("ctrl+c");
        EXPECT_TRUE(PumpUntil([&] { return ClipboardText() == Joined(lines, 1, 3); })) << ClipboardText();
        PressKeys("ctrl+a ctrl+c");
        EXPECT_TRUE(PumpUntil([&] { return IsFirstLinesOf(ClipboardText(), pane); })) << "Ctrl+A, Ctrl+C";
        EXPECT_TRUE(IsFirstLinesOf(CopyByMenu(process, pane, 0, 2), pane)) << "Copy all";
        PickFromMenu(process, pane, 0, 5);  // "Show as hex"
        EXPECT_TRUE(PumpUntil([&] { return ListBoxLines(pane).back() == hexAnswer; }, 5000))
            << "a run after the switch shows as hex pairs: " << ListBoxLines(pane).back();
        EXPECT_EQ(ListBoxLines(pane)[3], lines[3]) << "the lines held stay as they were";
    });
}

// Closing the window at the worst moments: the program still ends on its
// own with exit code 0.
TEST_F(UserSession, ClosingAtTheWorstMomentsStillEndsWithZero) {
    for (const Moment& moment : WorstMoments()) {
        SCOPED_TRACE(moment.Name);
        control::ResetServices();
        DWORD closedAt = 0;
        ProcessResult run = RunSession("/s=" + moment.Scenario, [&](DWORD process, const Screen& screen) {
            moment.Act(process, screen);
            closedAt = GetTickCount();
        });
        DWORD exitMs = GetTickCount() - closedAt;
        std::printf("close %-38s exit code %lu after %lu ms\n", moment.Name, static_cast<unsigned long>(run.exitCode),
                    static_cast<unsigned long>(exitMs));
        if (!run.exited) return;  // a process left behind ends the test
    }
}

}  // namespace
