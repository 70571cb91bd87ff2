// Running the probe as chosen Windows versions: each run must see its own
// version, also while several runs overlap, and leave no copy of the
// executable and no registry key behind.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <future>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/named_event.h"
#include "support/test_paths.h"
#include "support/windows_version.h"

namespace {

using testsupport::FileExists;
using testsupport::NamedEvent;
using testsupport::PathIn;

std::string TestsFolder() { return testsupport::TestExecutableFolder(); }
std::string ProbePath() { return PathIn(TestsFolder(), "version_probe.exe"); }

// The file name of a running process's executable.
std::string ImageName(DWORD processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return {};
    PROCESSENTRY32 entry = {.dwSize = sizeof(PROCESSENTRY32)};
    std::string name;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == processId) {
            name = entry.szExeFile;
            break;
        }
    }
    CloseHandle(snapshot);
    const auto separator = name.find_last_of("\\/");
    return separator == std::string::npos ? name : name.substr(separator + 1);
}

// Opens, for reading, the key of Wine's settings for exeFileName.
bool OpenAppDefaults(const std::string& exeFileName, HKEY* key) {
    return RegOpenKeyExA(HKEY_CURRENT_USER, testsupport::AppDefaultsKey(exeFileName).c_str(), 0, KEY_READ, key) ==
           ERROR_SUCCESS;
}

// The Version value Wine would use for exeFileName; empty when there is none.
std::string VersionSetting(const std::string& exeFileName) {
    HKEY key = nullptr;
    if (!OpenAppDefaults(exeFileName, &key)) return {};
    char value[32] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    const LONG status =
        RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : std::string();
}

bool KeyExists(const std::string& exeFileName) {
    HKEY key = nullptr;
    if (!OpenAppDefaults(exeFileName, &key)) return false;
    RegCloseKey(key);
    return true;
}

// Copies of the probe left in its folder.
int LeftoverCopies() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(PathIn(TestsFolder(), "version_probe-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do ++count;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// What a test sees of one run while the probe is alive, and afterwards.
struct Observation {
    testsupport::ProcessResult result;
    std::string copyName;
    bool copyExistedBesideOriginal = false;
    std::string versionWhileRunning;
};

TEST(WindowsVersion, OverlappingRunsEachSeeTheirOwnVersion) {
    struct Case {
        const char* version;
        DWORD code;  // platform * 10000 + major * 100 + minor
    };
    const Case cases[] = {
        {"win2k", 20500}, {"winxp", 20501}, {"win7", 20601}, {"nt40", 20400}, {"win98", 10410},
    };
    constexpr int kRuns = sizeof cases / sizeof cases[0];
    // Every probe waits for this event, set once all of them run, so that all
    // runs overlap.
    const NamedEvent release("probe-release");
    std::atomic<int> running{0};

    std::vector<std::future<Observation>> runs;
    for (const auto& c : cases) {
        runs.push_back(std::async(std::launch::async, [&, version = std::string(c.version)] {
            Observation seen;
            seen.result = testsupport::RunAsWindowsVersion(
                ProbePath(), version, "--wait-for " + release.name(), 20000, [&](DWORD processId) {
                    seen.copyName = ImageName(processId);
                    seen.copyExistedBesideOriginal = FileExists(PathIn(TestsFolder(), seen.copyName));
                    seen.versionWhileRunning = VersionSetting(seen.copyName);
                    if (++running == kRuns) release.Set();
                });
            return seen;
        }));
    }

    std::set<std::string> names;
    for (int i = 0; i < kRuns; ++i) {
        SCOPED_TRACE(cases[i].version);
        const Observation seen = runs[i].get();
        ASSERT_TRUE(seen.result.started);
        EXPECT_TRUE(seen.result.exited);
        EXPECT_EQ(seen.result.exitCode, cases[i].code);
        EXPECT_NE(seen.copyName, "version_probe.exe");
        EXPECT_EQ(seen.copyName.rfind("version_probe-", 0), 0u) << seen.copyName;
        EXPECT_TRUE(seen.copyExistedBesideOriginal);
        EXPECT_EQ(seen.versionWhileRunning, cases[i].version);
        EXPECT_FALSE(FileExists(PathIn(TestsFolder(), seen.copyName)));
        EXPECT_FALSE(KeyExists(seen.copyName));
        names.insert(seen.copyName);
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kRuns));
    EXPECT_EQ(LeftoverCopies(), 0);
}

TEST(WindowsVersion, CleansUpAfterAKilledRun) {
    const NamedEvent neverSet("probe-never-set");
    std::string copyName;
    const auto result = testsupport::RunAsWindowsVersion(
        ProbePath(), "winxp", "--wait-for " + neverSet.name(), 500,
        [&](DWORD processId) { copyName = ImageName(processId); });
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.exited);
    ASSERT_FALSE(copyName.empty());
    EXPECT_FALSE(FileExists(PathIn(TestsFolder(), copyName)));
    EXPECT_FALSE(KeyExists(copyName));
    EXPECT_EQ(LeftoverCopies(), 0);
}

}  // namespace
