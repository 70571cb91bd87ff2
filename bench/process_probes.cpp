#include "bench/process_probes.h"

#include <psapi.h>

#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "emulator/test_control.h"
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

uint64_t CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PagefileUsage;
}

}  // namespace bench
