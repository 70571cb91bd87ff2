#include "bench/bench_windows.h"

#include <process.h>

#include "bench/bench_clock.h"
#include "ui/port_panes.h"

namespace bench {
namespace {

constexpr char kMainClass[] = "QuorvelBenchMain";
constexpr UINT kRunAction = WM_APP + 1;
constexpr UINT kTracer = WM_APP + 2;
constexpr UINT kProbe = WM_APP + 3;
constexpr size_t kMaxProbes = 1 << 16;

double g_tracerPosted = 0;
double g_tracerDelay = -1;

// The post probe's posts: their times (of the performance counter and of the
// system clock) are written by the probe thread before each post, their
// waits by the main thread on receipt.
double g_probePosted[kMaxProbes];
double g_probePostedWall[kMaxProbes];
double g_probeWait[kMaxProbes];
volatile LONG g_probesPosted = 0;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTracer) {
        g_tracerDelay = Now() - g_tracerPosted;
        return 0;
    }
    if (message == kProbe) {
        size_t index = static_cast<size_t>(lParam);
        if (index < kMaxProbes) g_probeWait[index] = Now() - g_probePosted[index];
        return 0;
    }
    if (message == kRunAction) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HBRUSH Background() {
    static HBRUSH brush = CreateSolidBrush(RGB(240, 240, 240));
    return brush;
}

void DispatchPending() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

HWND CreateMainWindow() {
    static bool registered = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = MainProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hbrBackground = Background();
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kMainClass;
        return RegisterClassA(&windowClass) != 0;
    }();
    if (!registered) return nullptr;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    AdjustWindowRect(&frame, style, FALSE);
    HWND main = CreateWindowExA(0, kMainClass, "Quorvel benchmark", style, 0, 0,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!main) return nullptr;
    ShowWindow(main, SW_SHOWNORMAL);
    UpdateWindow(main);
    PumpFor(50);
    return main;
}

void DestroyMainWindow(HWND main) {
    if (IsWindow(main)) DestroyWindow(main);
    PumpFor(20);
}

HWND CreatePane(HWND main, int x, int y, int width, int height, bool visible) {
    HWND pane = quorvel::CreatePaneListBox(main);
    if (!pane) return nullptr;
    MoveWindow(pane, x, y, width, height, FALSE);
    if (visible) ShowWindow(pane, SW_SHOWNA);
    return pane;
}

HWND CreateStackedPane(HWND main, int index, int count, bool visible) {
    int height = (kClientHeight - kEditStrip) / count;
    return CreatePane(main, 0, kEditStrip + index * height, kClientWidth, height, visible);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DispatchPending();
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        // Wakes at once for a message sent by another thread.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

bool WaitPumping(HANDLE handle, DWORD timeoutMs) {
    return PumpUntil([&] { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

void PostTracer(HWND main) {
    g_tracerDelay = -1;
    g_tracerPosted = Now();
    PostMessageA(main, kTracer, 0, 0);
}

double TracerDelay() { return g_tracerDelay; }

PostProbe::PostProbe(HWND main, DWORD intervalMs)
    : main_(main), intervalMs_(intervalMs), stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    InterlockedExchange(&g_probesPosted, 0);
    thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, nullptr));
}

PostProbe::~PostProbe() {
    Stop();
    CloseHandle(stop_);
}

unsigned __stdcall PostProbe::Run(void* argument) {
    auto* probe = static_cast<PostProbe*>(argument);
    while (WaitForSingleObject(probe->stop_, probe->intervalMs_) == WAIT_TIMEOUT) {
        LONG index = g_probesPosted;
        if (static_cast<size_t>(index) >= kMaxProbes) break;
        g_probeWait[index] = -1;
        g_probePostedWall[index] = WallNow();
        g_probePosted[index] = Now();
        InterlockedIncrement(&g_probesPosted);
        PostMessageA(probe->main_, kProbe, 0, index);
    }
    return 0;
}

std::vector<double> PostProbe::Stop(std::vector<WallSpan>* spans) {
    std::vector<double> waits;
    if (!thread_) return waits;
    SetEvent(stop_);
    WaitPumping(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    PumpFor(50);
    double now = Now();
    for (LONG i = 0; i < g_probesPosted; ++i) {
        waits.push_back(g_probeWait[i] >= 0 ? g_probeWait[i] : now - g_probePosted[i]);
        if (spans) spans->push_back({g_probePostedWall[i], waits.back()});
    }
    return waits;
}

void RunOnWindowThread(HWND main, const std::function<void()>& action) {
    SendMessageA(main, kRunAction, 0, reinterpret_cast<LPARAM>(&action));
}

}  // namespace bench
