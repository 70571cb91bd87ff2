// Child processes for end-to-end tests: where the executables are, how a
// child that overstays is ended, and what happens when the test's own code
// fails while the child runs.
#include <windows.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "support/named_event.h"
#include "support/process_runner.h"
#include "support/test_paths.h"

namespace {

using testsupport::NamedEvent;
using testsupport::PathIn;
using testsupport::RunProcess;

std::string ProbePath() { return PathIn(testsupport::TestExecutableFolder(), "version_probe.exe"); }

bool ProcessIsGone(DWORD processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return true;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

TEST(TestPaths, FindTheTestAndProductExecutables) {
    const std::string tests = testsupport::TestExecutableFolder();
    const std::string build = testsupport::BuildFolder();
    EXPECT_EQ(tests, PathIn(build, "tests"));
    EXPECT_TRUE(testsupport::FileExists(PathIn(tests, "harness_tests.exe")));
    EXPECT_TRUE(testsupport::FileExists(PathIn(tests, "version_probe.exe")));
    EXPECT_TRUE(testsupport::FileExists(PathIn(build, "quorvel.exe")));
    EXPECT_TRUE(testsupport::FileExists(PathIn(build, "quorvel-emu.exe")));
    EXPECT_FALSE(testsupport::FileExists(tests));
}

TEST(ProcessRunner, ReportsAnExecutableThatCannotStart) {
    bool called = false;
    const auto result = RunProcess(PathIn(testsupport::TestExecutableFolder(), "no-such-program.exe"),
                                   "", 1000, [&](DWORD) { called = true; });
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(called);
}

TEST(ProcessRunner, KillsAProcessThatOutlivesItsTimeout) {
    const NamedEvent neverSet("probe-never-set");
    const auto start = std::chrono::steady_clock::now();
    const auto result = RunProcess(ProbePath(), "--wait-for " + neverSet.name(), 500);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.exited);
    EXPECT_TRUE(ProcessIsGone(result.processId));
    // The probe would have waited 10 s for its event.
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(ProcessRunner, KillsTheProcessWhenTheCallbackThrows) {
    const NamedEvent neverSet("probe-never-set");
    DWORD processId = 0;
    EXPECT_THROW(RunProcess(ProbePath(), "--wait-for " + neverSet.name(), 20000,
                            [&](DWORD id) {
                                processId = id;
                                throw std::runtime_error("test code failed");
                            }),
                 std::runtime_error);
    ASSERT_NE(processId, 0u);
    EXPECT_TRUE(ProcessIsGone(processId));
}

}  // namespace
