// Whole runs of quorvel-emu.exe as a process, read from outside.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/control/test_control.h"
#include "ui/window_commands.h"
#include "support/message_box_equality.h"
#include "support/process_runner.h"
#include "support/process_windows.h"
#include "support/test_paths.h"

namespace {

using namespace testsupport;
using quorvel::kMainWindowClass;
namespace control = emu::control;

constexpr DWORD kRunTimeoutMs = 30000;

// Posts WM_CLOSE to the program's main window and returns the milliseconds
// until the process has ended (or timeoutMs when it did not).
DWORD CloseAndTimeExit(HWND main, DWORD processId, DWORD timeoutMs) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    DWORD start = GetTickCount();
    PostMessageA(main, WM_CLOSE, 0, 0);
    DWORD result = WaitForSingleObject(process, timeoutMs);
    DWORD elapsed = GetTickCount() - start;
    CloseHandle(process);
    return result == WAIT_OBJECT_0 ? elapsed : timeoutMs;
}

// The test holds the stand-in's shared service table open, so that it lives
// across the child's run and can be read afterwards.
class MonitorProcess : public testing::Test {
protected:
    void SetUp() override { control::ResetServices(); }
    void TearDown() override { control::ResetServices(); }
};

TEST_F(MonitorProcess, WithoutAControlDriverTheWindowComesUpWithoutPortsAndClosesWithZero) {
    // A copy of the program in a folder without driver files: the control
    // driver cannot start, so there is no device.
    std::string folder = PathIn(TestExecutableFolder(), "without-drivers");
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string copy = PathIn(folder, "quorvel-emu.exe");
    ASSERT_TRUE(CopyFileA(MonitorProgram().c_str(), copy.c_str(), FALSE));

    size_t children = 99;
    bool hadMenu = true;
    ProcessResult run = RunProcess(copy, "", kRunTimeoutMs, [&](DWORD process) {
        HWND main = WaitForProcessWindow(process, kMainWindowClass);
        ASSERT_NE(main, nullptr);
        Sleep(300);  // time for a port that should not come
        children = ChildWindows(main).size();
        hadMenu = GetMenu(main) != nullptr;
        PostMessageA(main, WM_CLOSE, 0, 0);
    });
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(children, 2u) << "the two terminal edits, no pane";
    EXPECT_FALSE(hadMenu);
    auto service = control::GetService("Quorvel");
    EXPECT_TRUE(service.Exists);
    EXPECT_EQ(service.State, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(MonitorProcess, ARestartRequestEndsTheStartWithItsMessageAndExitCodeThree) {
    CapturedMessageBox box;
    ProcessResult run = RunProcess(MonitorProgram(), "/s=fault restart", kRunTimeoutMs,
                                   [&](DWORD process) { box = WaitForProcessMessageBox(process); });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 3u);
    EXPECT_EQ(box, OkBox("Quorvel", "You must restart Windows to run this application.\n", MessageBoxIcon::Error));
    // The device was closed and the driver, which no other instance used,
    // stopped before the message.
    auto service = control::GetService("Quorvel");
    EXPECT_EQ(service.StopCount, 1u);
    EXPECT_EQ(service.State, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(MonitorProcess, ClosingTheWindowWhileFourPortsStreamAtFullRateExitsPromptly) {
    // How long the program takes to end without ports, measured in this run.
    DWORD idleExitMs = 0;
    ProcessResult idle = RunProcess(MonitorProgram(), "/s=# no ports", kRunTimeoutMs, [&](DWORD process) {
        HWND main = WaitForProcessWindow(process, kMainWindowClass);
        ASSERT_NE(main, nullptr);
        idleExitMs = CloseAndTimeExit(main, process, kRunTimeoutMs);
    });
    ASSERT_TRUE(idle.exited);

    // 921600 baud full duplex on each of four ports, in 64-byte runs.
    std::string scenario = "/s=";
    for (int n = 1; n <= 4; ++n) scenario += "port COM" + std::to_string(n) + ";gen rate=184320 run=64 dir=alt;";
    DWORD busyExitMs = 0;
    size_t panesWithLines = 0;
    ProcessResult busy = RunProcess(MonitorProgram(), scenario, kRunTimeoutMs, [&](DWORD process) {
        HWND main = WaitForProcessWindow(process, kMainWindowClass);
        ASSERT_NE(main, nullptr);
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 10000) {
            std::vector<HWND> children = ChildWindows(main);
            panesWithLines = 0;
            for (size_t i = 2; i < children.size(); ++i) {
                if (SendMessageW(children[i], LB_GETCOUNT, 0, 0) > 0) ++panesWithLines;
            }
            if (panesWithLines == 4) break;
            Sleep(50);
        }
        Sleep(1000);  // a second of full traffic: the rings fill up
        busyExitMs = CloseAndTimeExit(main, process, kRunTimeoutMs);
    });
    ASSERT_TRUE(busy.exited);
    EXPECT_EQ(busy.exitCode, 0u);
    EXPECT_EQ(panesWithLines, 4u);
    EXPECT_LT(busyExitMs, idleExitMs + 2000) << "idle exit " << idleExitMs << " ms";
    RecordProperty("IdleExitMs", static_cast<int>(idleExitMs));
    RecordProperty("BusyExitMs", static_cast<int>(busyExitMs));
}

// Another process posts the watcher's commands with whatever it likes as
// their record (none, small numbers, the program's own image): the monitor
// still answers, keeps its panes and ends with 0.
TEST_F(MonitorProcess, ForgedPortCommandsFromAnotherProcessChangeNothing) {
    size_t before = 0, after = 0;
    bool answered = false;
    ProcessResult run = RunProcess(MonitorProgram(), "/s=port COM1;port COM2", kRunTimeoutMs, [&](DWORD process) {
        HWND main = WaitForProcessWindow(process, kMainWindowClass);
        ASSERT_NE(main, nullptr);
        for (int i = 0; i < 100 && before < 4; ++i, Sleep(50)) before = ChildWindows(main).size();
        for (LPARAM forged : {LPARAM{0}, LPARAM{1}, LPARAM{0x10}, LPARAM{0x00400000}, LPARAM{-1}}) {
            PostMessageA(main, WM_COMMAND, quorvel::ID_PORT_ARRIVED, forged);
            PostMessageA(main, WM_COMMAND, quorvel::ID_PORT_REMOVED, forged);
        }
        DWORD_PTR result = 0;
        answered = SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
        Sleep(300);
        after = ChildWindows(main).size();
        PostMessageA(main, WM_CLOSE, 0, 0);
    });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(answered);
    EXPECT_EQ(before, 4u) << "two edits and two panes";
    EXPECT_EQ(after, 4u);
}

TEST_F(MonitorProcess, TheUninstallCourseRemovesBothServices) {
    CapturedMessageBox box;
    ProcessResult run = RunProcess(MonitorProgram(), "/d", kRunTimeoutMs,
                                   [&](DWORD process) { box = WaitForProcessMessageBox(process); });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(box, OkBox("Quorvel", "The application has been uninstalled.", MessageBoxIcon::Information));
    EXPECT_FALSE(control::GetService("Quorvel").Exists);
    EXPECT_FALSE(control::GetService("Tolvarik").Exists);
}

}  // namespace
