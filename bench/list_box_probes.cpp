#include "bench/list_box_probes.h"

#include <process.h>

#include "bench/bench_clock.h"
#include "bench/bench_windows.h"

namespace bench {
namespace {

// 64 bytes with the terminator, like a short run line.
constexpr char kLine[] = "\xB7RX: 0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUV";
static_assert(sizeof(kLine) == 64);

// What a sending thread does, and what it counted.
struct Sender {
    HWND Target = nullptr;
    UINT Message = LB_ADDSTRING;
    double Seconds = 0;
    uint32_t Burst = 0;  // 0: no redraw suspension
    ProbeResult Result;
};

unsigned __stdcall SendLoop(void* argument) {
    auto* sender = static_cast<Sender*>(argument);
    LPARAM text = reinterpret_cast<LPARAM>(kLine);
    LPARAM lParam = sender->Message == LB_ADDSTRING ? text : 0;
    double start = Now();
    double end = start + sender->Seconds;
    uint32_t count = 0;
    while (Now() < end) {
        if (sender->Burst == 0) {
            SendMessageA(sender->Target, sender->Message, 0, lParam);
            ++count;
            continue;
        }
        SendMessageA(sender->Target, WM_SETREDRAW, FALSE, 0);
        for (uint32_t i = 0; i < sender->Burst; ++i) SendMessageA(sender->Target, sender->Message, 0, lParam);
        SendMessageA(sender->Target, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(sender->Target, nullptr, TRUE);
        count += sender->Burst;
    }
    sender->Result.Count = count;
    sender->Result.Seconds = Now() - start;
    return 0;
}

// Runs a sender on a thread of its own while this thread serves its calls.
ProbeResult RunSender(Sender& sender) {
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SendLoop, &sender, 0, nullptr));
    if (!thread) return {};
    WaitPumping(thread, INFINITE);
    CloseHandle(thread);
    return sender.Result;
}

HWND FullPane(HWND main, bool visible) {
    HWND pane = CreateStackedPane(main, 0, 1, visible);
    PumpFor(20);
    return pane;
}

void Discard(HWND pane) {
    DestroyWindow(pane);
    PumpFor(20);
}

}  // namespace

ProbeResult HiddenOwnThreadAdds(HWND main, uint32_t count) {
    HWND pane = FullPane(main, false);
    ProbeResult result;
    double start = Now();
    for (uint32_t i = 0; i < count; ++i) {
        SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
    }
    result.Seconds = Now() - start;
    result.Count = count;
    Discard(pane);
    return result;
}

ProbeResult VisibleOwnThreadAdds(HWND main, double seconds) {
    HWND pane = FullPane(main, true);
    ProbeResult result;
    double start = Now();
    double end = start + seconds;
    while (Now() < end) {
        SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
        ++result.Count;
        // Let the pane paint as a message loop would between adds.
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    result.Seconds = Now() - start;
    Discard(pane);
    return result;
}

ProbeResult VisibleCrossThreadAdds(HWND main, double seconds) {
    return VisibleCrossThreadSuspendedAdds(main, seconds, 0);
}

ProbeResult CrossThreadNullSends(HWND main, double seconds) {
    Sender sender;
    sender.Target = main;
    sender.Message = WM_NULL;
    sender.Seconds = seconds;
    return RunSender(sender);
}

// Burst 0: the adds go one by one, with the pane's redraw left on.
ProbeResult VisibleCrossThreadSuspendedAdds(HWND main, double seconds, uint32_t burst) {
    HWND pane = FullPane(main, true);
    Sender sender;
    sender.Target = pane;
    sender.Seconds = seconds;
    sender.Burst = burst;
    ProbeResult result = RunSender(sender);
    Discard(pane);
    return result;
}

// Repeats one cycle on a visible pane full of lines, one of `count`
// stacked panes, for `seconds`.
template <typename Cycle>
ProbeResult RepeatOnFullPane(HWND main, int count, double seconds, Cycle cycle) {
    HWND pane = CreateStackedPane(main, 0, count, true);
    for (int i = 0; i < 200; ++i) SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
    PumpFor(20);
    ProbeResult result;
    double start = Now();
    while (Now() - start < seconds) {
        cycle(pane);
        InvalidateRect(pane, nullptr, TRUE);
        UpdateWindow(pane);
        ++result.Count;
    }
    result.Seconds = Now() - start;
    Discard(pane);
    return result;
}

ProbeResult PaneRepaints(HWND main, int count, double seconds) {
    return RepeatOnFullPane(main, count, seconds, [](HWND) {});
}

ProbeResult RedrawCycles(HWND main, int count, double seconds) {
    return RepeatOnFullPane(main, count, seconds, [](HWND pane) {
        SendMessageA(pane, WM_SETREDRAW, FALSE, 0);
        SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
        SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
        SendMessageA(pane, WM_SETREDRAW, TRUE, 0);
    });
}

double TimerPeriod(HWND main, UINT periodMs, double seconds) {
    constexpr UINT_PTR kProbeTimer = 77;
    MSG message;
    double start = Now();
    uint32_t ticks = 0;
    SetTimer(main, kProbeTimer, periodMs, nullptr);
    while (Now() - start < seconds) {
        if (!GetMessageA(&message, nullptr, 0, 0)) break;
        if (message.message == WM_TIMER && message.wParam == kProbeTimer) {
            ++ticks;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    KillTimer(main, kProbeTimer);
    return ticks ? (Now() - start) / ticks : 0;
}

}  // namespace bench
