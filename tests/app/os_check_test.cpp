// The operating-system check, run as Wine pretends to be a given Windows.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/os_check.h"
#include "support/message_box_equality.h"
#include "support/test_paths.h"
#include "support/windows_version.h"

namespace {

using namespace testsupport;

constexpr DWORD kRunTimeoutMs = 30000;

std::string Probe() { return PathIn(TestExecutableFolder(), "os_check_probe.exe"); }

TEST(OperatingSystemCheck, TheTwoAllowedSystemsAndNewerOnesGetTheirClass) {
    struct Case {
        const char* version;
        DWORD osClass;
    } cases[] = {{"win2k", 1}, {"winxp", 2}, {"win2003", 3}, {"win7", 3}};
    for (const Case& c : cases) {
        ProcessResult run = RunAsWindowsVersion(Probe(), c.version, "", kRunTimeoutMs);
        ASSERT_TRUE(run.exited) << c.version;
        EXPECT_EQ(run.exitCode, c.osClass) << c.version;
    }
}

TEST(OperatingSystemCheck, OlderSystemsAreRefusedWithTheirVersionData) {
    CapturedMessageBox box;
    ProcessResult run = RunAsWindowsVersion(Probe(), "nt40", "", kRunTimeoutMs,
                                            [&](DWORD process) { box = WaitForProcessMessageBox(process); });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 100u);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, "Quorvel");
    EXPECT_EQ(box.icon, MessageBoxIcon::Warning);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text.find("Error: this program cannot run on this operating system.\n\n"
                            "Additional information:\n\n  Major version:\t4\n  Minor version:\t0\n"),
              0u)
        << box.text;
    EXPECT_NE(box.text.find("  Platform ID:\t2 (Win32 NT)\n  Product type:\tWorkstation\n"),
              std::string::npos)
        << box.text;
    EXPECT_NE(box.text.find("\n\nAllowed operating systems are:\n. Windows 2000 Professional\n"
                            ". Windows XP Professional\n"),
              std::string::npos);

    run = RunAsWindowsVersion(Probe(), "win98", "", kRunTimeoutMs,
                              [&](DWORD process) { box = WaitForProcessMessageBox(process); });
    EXPECT_EQ(run.exitCode, 100u);
    ASSERT_TRUE(box.found);
    EXPECT_NE(box.text.find("  Major version:\t4\n  Minor version:\t10\n"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("  Platform ID:\t1\n  Product type:\tUnknown\n"), std::string::npos)
        << "no (Win32 NT) for another platform; " << box.text;
}

TEST(OperatingSystemCheck, RefusalTextDetails) {
    OSVERSIONINFOEXA version = {.dwMajorVersion = 4, .dwMinorVersion = 0, .dwBuildNumber = 1381,
                                .dwPlatformId = VER_PLATFORM_WIN32_NT, .wProductType = 3};  // a server
    char text[2000];
    quorvel::FormatRefusalText(version, text, sizeof text);
    EXPECT_NE(std::strstr(text, "  Build number:\t1381\n  Platform ID:\t2 (Win32 NT)\n"
                                "  Product type:\tUnknown\n\n  More:\n\n"),
              nullptr)
        << "an empty service-pack text puts the line break right behind More:; " << text;
    std::strcpy(version.szCSDVersion, "Service Pack 6");
    quorvel::FormatRefusalText(version, text, sizeof text);
    EXPECT_NE(std::strstr(text, "  More:Service Pack 6\n"), nullptr);
}

TEST(OperatingSystemCheck, TheMonitorRefusesKeepOnNewerSystemsAndOlderSystemsAltogether) {
    CapturedMessageBox box;
    ProcessResult run = RunAsWindowsVersion(MonitorProgram(), "win7", "/k", kRunTimeoutMs,
                                            [&](DWORD process) { box = WaitForProcessMessageBox(process); });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(box, OkBox("Quorvel", "Error: /k option unappropriate for this system.", MessageBoxIcon::Warning));

    run = RunAsWindowsVersion(MonitorProgram(), "win98", "", kRunTimeoutMs,
                              [&](DWORD process) { box = WaitForProcessMessageBox(process); });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(box.found);
}

}  // namespace
