#include "bench/pane_watch.h"

#include <cstring>

#include "bench/bench_clock.h"
#include "bench/traffic_shapes.h"
#include "port/capture_runs.h"

namespace bench {
namespace {

void SeeLine(PaneWatch& watch, const char* line) {
    ++watch.Lines;
    watch.TextBytes += std::strlen(line) + 1;
    double now = Now();
    if (!watch.Dirty) {
        watch.Dirty = true;
        watch.DirtySince = now;
        watch.DirtySinceWall = WallNow();
    }
    uint32_t run = 0;
    unsigned char marker = static_cast<unsigned char>(line[0]);
    if (!watch.Clock || (marker != 0xB6 && marker != 0xB7)) return;
    if (!ReadRunNumber(line + quorvel::kRunPrefixLength, &run) || run >= watch.Clock->EnteredAt.size()) return;
    double entered = watch.Clock->EnteredAt[run];
    if (entered > 0) watch.Delays.push_back(now - entered);
}

LRESULT CALLBACK WatchProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* watch = reinterpret_cast<PaneWatch*>(GetWindowLongPtrA(pane, GWLP_USERDATA));
    if (message == LB_ADDSTRING) SeeLine(*watch, reinterpret_cast<const char*>(lParam));
    // A list box paints nothing while its redraw is off.
    if (message == WM_SETREDRAW) watch->RedrawOff = wParam == 0;
    if (message == WM_PAINT && watch->Dirty && !watch->RedrawOff) {
        double wait = Now() - watch->DirtySince;
        watch->RepaintWaits.push_back({watch->DirtySinceWall, wait});
        watch->Dirty = false;
    }
    WNDPROC original = watch->Original;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        SetWindowLongPtrA(pane, GWLP_USERDATA, 0);
        delete watch;
    }
    return CallWindowProcA(original, pane, message, wParam, lParam);
}

}  // namespace

void WatchPane(HWND pane, const RunClock* clock) {
    auto* watch = new PaneWatch;
    watch->Clock = clock;
    SetWindowLongPtrA(pane, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(watch));
    watch->Original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchProc)));
}

PaneWatch* WatchOf(HWND pane) {
    return IsWindow(pane) ? reinterpret_cast<PaneWatch*>(GetWindowLongPtrA(pane, GWLP_USERDATA)) : nullptr;
}

}  // namespace bench
