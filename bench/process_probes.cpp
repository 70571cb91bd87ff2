#include "bench/process_probes.h"

#include <psapi.h>

#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "emulator/control/test_control.h"
#include "support/process_windows.h"

namespace bench {
namespace {

constexpr char kBareClass[] = "QuorvelBenchBare";
constexpr DWORD kStartLimitMs = 30000;

std::string OwnPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    return path;
}

std::string ProductFolder() {
    std::string path = OwnPath();
    path.resize(path.find_last_of('\\'));     // the benchmark's folder
    path.resize(path.find_last_of('\\') + 1);  // the build folder
    return path;
}

struct Child {
    PROCESS_INFORMATION Info = {};
    bool Started = false;
};

Child StartChild(const std::string& program, const std::string& arguments) {
    std::string commandLine = "\"" + program + "\" " + arguments;
    std::vector<char> text(commandLine.begin(), commandLine.end());
    text.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    Child child;
    child.Started = CreateProcessA(program.c_str(), text.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &child.Info) != FALSE;
    return child;
}

void CloseChild(Child& child, HWND window) {
    if (!child.Started) return;
    if (window) PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(child.Info.hProcess, kStartLimitMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.Info.hProcess, 1);
    }
    CloseHandle(child.Info.hThread);
    CloseHandle(child.Info.hProcess);
}

LRESULT CALLBACK BareProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

bool PaneHasLines(HWND pane) { return SendMessageW(pane, LB_GETCOUNT, 0, 0) >= 2; }

uint64_t WorkingSetOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters))) return 0;
    return counters.WorkingSetSize;
}

// The lines that the monitor's panes hold (the window's children after the
// two terminal edits), and how many panes show lines; false when a pane did
// not answer within a few seconds.
bool CountPaneLines(HWND window, uint64_t* lines, int* panesWithLines) {
    std::vector<HWND> children = testsupport::ChildWindows(window);
    *lines = 0;
    *panesWithLines = 0;
    for (size_t i = 2; i < children.size(); ++i) {
        DWORD_PTR count = 0;
        if (!SendMessageTimeoutW(children[i], LB_GETCOUNT, 0, 0, SMTO_NORMAL, 5000, &count)) return false;
        *lines += count;
        *panesWithLines += count >= 2 ? 1 : 0;
    }
    return true;
}

ResidentSample Sample(HANDLE process, HWND window, double since, bool* answered) {
    ResidentSample sample;
    sample.Seconds = Now() - since;
    int panes = 0;
    *answered = CountPaneLines(window, &sample.Lines, &panes);
    sample.Resident = WorkingSetOf(process);
    return sample;
}

}  // namespace

int RunBareWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BareProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kBareClass;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, kBareClass, "bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                  200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}

double SecondsToBareWindow() {
    double start = Now();
    Child child = StartChild(OwnPath(), kBareWindowOption);
    if (!child.Started) return -1;
    HWND window = testsupport::WaitForProcessWindow(child.Info.dwProcessId, kBareClass, kStartLimitMs);
    double seconds = Now() - start;
    CloseChild(child, window);
    return window ? seconds : -1;
}

double SecondsToThreePortsWithTraffic() {
    emu::control::ResetServices();
    double start = Now();
    Child child = StartChild(ProductFolder() + "quorvel-emu.exe",
                             "/s=port COM1;rx RING;port COM2;rx RING;port COM3;rx RING");
    if (!child.Started) return -1;
    HWND window = testsupport::WaitForProcessWindow(child.Info.dwProcessId, "QuorvelClass", kStartLimitMs);
    double seconds = -1;
    while (window && Now() - start < kStartLimitMs / 1000.0) {
        std::vector<HWND> children = testsupport::ChildWindows(window);
        size_t panes = 0;
        for (size_t i = 2; i < children.size(); ++i) panes += PaneHasLines(children[i]) ? 1 : 0;
        if (panes == 3) {
            seconds = Now() - start;
            break;
        }
        Sleep(2);
    }
    CloseChild(child, window);
    emu::control::ResetServices();
    return seconds;
}

double ResidentRun::GrownPerLine(const ResidentSample& start, const ResidentSample& at) {
    if (at.Lines <= start.Lines) return 0;
    return (static_cast<double>(at.Resident) - static_cast<double>(start.Resident)) /
           static_cast<double>(at.Lines - start.Lines);
}

ResidentRun ResidentUnderTraffic(const std::string& settings, int panes, const std::vector<double>& atSeconds) {
    ResidentRun run;
    emu::control::ResetServices();
    Child child = StartChild(ProductFolder() + "quorvel-emu.exe", settings);
    if (!child.Started) return run;
    HWND window = testsupport::WaitForProcessWindow(child.Info.dwProcessId, "QuorvelClass", kStartLimitMs);
    double waitFrom = Now();
    bool answered = window != nullptr, shown = false;
    while (answered && !shown && Now() - waitFrom < kStartLimitMs / 1000.0) {
        uint64_t lines = 0;
        int panesWithLines = 0;
        answered = CountPaneLines(window, &lines, &panesWithLines);
        shown = panesWithLines >= panes;
        if (!shown) Sleep(2);
    }
    answered = answered && shown;
    double start = Now();
    run.Start = Sample(child.Info.hProcess, window, start, &answered);
    for (double at : atSeconds) {
        if (!answered) break;
        while (Now() - start < at) Sleep(20);
        run.Samples.push_back(Sample(child.Info.hProcess, window, start, &answered));
    }
    run.Complete = answered && run.Samples.size() == atSeconds.size();
    CloseChild(child, window);
    emu::control::ResetServices();
    return run;
}

uint64_t CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PagefileUsage;
}

uint64_t ResidentBytes() { return WorkingSetOf(GetCurrentProcess()); }

}  // namespace bench

