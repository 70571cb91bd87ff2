// Whole runs of quorvel-emu.exe as a process, read from outside.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "emulator/test_control.h"
#include "support/message_box_capture.h"
#include "support/process_runner.h"
#include "support/process_windows.h"
#include "support/test_paths.h"

namespace {

using namespace testsupport;
namespace control = emu::control;

constexpr DWORD kRunTimeoutMs = 30000;

std::string Monitor() { return PathIn(BuildFolder(), "quorvel-emu.exe"); }

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
    ASSERT_TRUE(CopyFileA(Monitor().c_str(), copy.c_str(), FALSE));

    size_t children = 99;
    bool hadMenu = true;
    ProcessResult run = RunProcess(copy, "", kRunTimeoutMs, [&](DWORD process) {
        HWND main = WaitForProcessWindow(process, "QuorvelClass");
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

TEST_F(MonitorProcess, TheUninstallCourseRemovesBothServices) {
    CapturedMessageBox box;
    ProcessResult run = RunProcess(Monitor(), "/d", kRunTimeoutMs,
                                   [&](DWORD process) { box = WaitForProcessMessageBox(process); });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, "Quorvel");
    EXPECT_EQ(box.text, "The application has been uninstalled.");
    EXPECT_EQ(box.icon, MessageBoxIcon::Information);
    EXPECT_FALSE(control::GetService("Quorvel").Exists);
    EXPECT_FALSE(control::GetService("Tolvarik").Exists);
}

}  // namespace
