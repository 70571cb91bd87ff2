#include "support/process_runner.h"

#include <algorithm>
#include <vector>

namespace testsupport {
namespace {

// Time a terminated process gets to disappear, so that its executable file
// can be deleted afterwards.
constexpr DWORD kTerminationWaitMs = 5000;

class ProcessHandles {
public:
    explicit ProcessHandles(const PROCESS_INFORMATION& info) : info_(info) {}
    ~ProcessHandles() {
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    ProcessHandles(const ProcessHandles&) = delete;
    ProcessHandles& operator=(const ProcessHandles&) = delete;

    HANDLE process() const { return info_.hProcess; }

    void Kill() const {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, kTerminationWaitMs);
    }

private:
    PROCESS_INFORMATION info_;
};

// One argument of a command line as the Windows rules read it back: quoted
// when it holds a blank or a quote, backslashes doubled only before a quote.
std::string QuotedArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        quoted.push_back(c);
        backslashes = 0;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

DWORD RemainingMs(DWORD startTick, DWORD timeoutMs) {
    const DWORD elapsed = GetTickCount() - startTick;
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

}  // namespace

ProcessResult RunProcess(const std::string& exePath, const std::string& arguments, DWORD timeoutMs,
                         const std::function<void(DWORD processId)>& whileRunning) {
    std::string commandLine = "\"" + exePath + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;

    ProcessResult result;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const DWORD startTick = GetTickCount();
    // No inherited handles: the child must not keep the test's output pipes open.
    if (!CreateProcessA(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return result;
    }
    const ProcessHandles handles(info);
    result.started = true;
    result.processId = info.dwProcessId;

    if (whileRunning) {
        try {
            whileRunning(info.dwProcessId);
        } catch (...) {
            handles.Kill();
            throw;
        }
    }

    if (WaitForSingleObject(handles.process(), RemainingMs(startTick, timeoutMs)) == WAIT_OBJECT_0) {
        result.exited = true;
        GetExitCodeProcess(handles.process(), &result.exitCode);
    } else {
        handles.Kill();
    }
    return result;
}

bool StartLinuxProgram(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return false;
    std::string commandLine = "Z:" + arguments[0];
    std::replace(commandLine.begin(), commandLine.end(), '/', '\\');
    commandLine = QuotedArgument(commandLine);
    for (size_t i = 1; i < arguments.size(); ++i) commandLine += " " + QuotedArgument(arguments[i]);
    std::vector<char> text(commandLine.begin(), commandLine.end());
    text.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    // The handles that Wine returns for a Linux program are not handles: 32-bit
    // Wine fills them with whatever its stack held (seen: 0x4a, 0x58, 0x84).
    // Closing one closed a live handle of this process, once the thread's
    // desktop, after which no window could be created. They stay unclosed.
    return CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process) != FALSE;
}

std::vector<std::string> SplitAtBlanks(const std::string& text) {
    std::vector<std::string> words;
    for (size_t at = 0; at < text.size();) {
        size_t blank = std::min(text.find(' ', at), text.size());
        if (blank > at) words.push_back(text.substr(at, blank - at));
        at = blank + 1;
    }
    return words;
}

}  // namespace testsupport
