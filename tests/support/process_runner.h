// Runs an executable as a child process, the way end-to-end tests start the
// program: with a callback that runs while the child lives (to read or
// dismiss its windows), and a time-out after which the child is killed so a
// hung child cannot hang the test run.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    bool started = false;  // CreateProcess succeeded
    bool exited = false;   // ended on its own within the time-out (false: killed)
    DWORD exitCode = 0;    // meaningful only when exited
    DWORD processId = 0;
};

// Starts exePath with arguments (appended to the quoted path), calls
// whileRunning(processId) on the calling thread if given, then waits for the
// process until timeoutMs after its start has passed. A process still alive
// by then is terminated, and waited for, before the call returns. If
// whileRunning throws, the process is terminated and the exception passed on.
ProcessResult RunProcess(const std::string& exePath, const std::string& arguments, DWORD timeoutMs,
                         const std::function<void(DWORD processId)>& whileRunning = {});

// Starts a Linux program through Wine, directly, without a shell: the first
// argument is its Linux path, and every argument reaches it as it stands
// (Wine splits the command line by the Windows rules, whose quoting this
// follows). Wine gives no usable handle for it and passes it no pipe: it
// cannot be waited for, so callers wait for something that it does
// (tests/linux/run_to_file.cpp writes what a test needs).
bool StartLinuxProgram(const std::vector<std::string>& arguments);
// The words of a text that are separated by blanks, as arguments.
std::vector<std::string> SplitAtBlanks(const std::string& text);

}  // namespace testsupport
