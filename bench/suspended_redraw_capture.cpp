// EXPERIMENT: the capture loop of src/port/capture_thread.cpp, copied with
// one change in its data step (marked "redraw" below). Everything else (the
// waits, the run cutting, the timing line, the order of the two adds and of
// the read index) is as in the program.
#include "bench/suspended_redraw_capture.h"

#include <new>

#include "driver/device_request.h"
#include "driver/stop_event.h"
#include "driver/window_commands.h"
#include "port/capture_requests.h"
#include "port/capture_ring.h"
#include "port/capture_runs.h"
#include "port/driver_notice.h"
#include "port/flash_brushes.h"
#include "port/timing_line.h"

namespace bench {
namespace {

using namespace quorvel;

constexpr DWORD kFlashMs = 500;

struct CaptureLoop {
    PortMonitor& Port;
    HWND ListBox;
    HWND MainWindow;
    RedrawPolicy Policy;
    HBRUSH SavedBackground = nullptr;
    HANDLE Events[kCaptureWaits] = {};
    OVERLAPPED Overlapped[kCaptureWaits] = {};
    OVERLAPPED* Waits[kCaptureWaits] = {};
    bool Outstanding[kCaptureWaits] = {};
    bool Marked[kCaptureWaits] = {};
    uint32_t ColourIndex = 0;
    char Notice[kNoticeSize] = {};
    DWORD WaitLimit = INFINITE;
    bool Drained = true;
    bool RedrawSuspended = false;  // redraw: the pane's redraw is off
    DWORD SuspendedAt = 0;         // redraw: tick count when it went off
};

void SetBackground(HWND mainWindow, HBRUSH brush) {
    SetClassLongA(mainWindow, GCL_HBRBACKGROUND, static_cast<LONG>(reinterpret_cast<LONG_PTR>(brush)));
}

bool WaitWasAborted(CaptureLoop& loop, uint32_t wait) {
    loop.Outstanding[wait] = false;
    DWORD bytes = 0;
    if (ReadRequestResult(loop.Port.DeviceHandle, loop.Overlapped[wait], &bytes)) return false;
    return GetLastError() == ERROR_OPERATION_ABORTED;
}

void MarkOnly(CaptureLoop& loop, uint32_t wait) {
    for (bool& marked : loop.Marked) marked = false;
    loop.Marked[wait] = true;
}

// redraw: turns the pane's redraw back on and has it repainted at once
// (RDW_UPDATENOW sends the paint to the pane's thread and waits for it), so
// that the repaint is not lost to the next WM_SETREDRAW FALSE.
void ResumeRedraw(CaptureLoop& loop) {
    if (!loop.RedrawSuspended) return;
    SendMessageA(loop.ListBox, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(loop.ListBox, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    loop.RedrawSuspended = false;
}

void DataStep(CaptureLoop& loop) {
    CaptureRing* ring = loop.Port.CaptureRing;
    if (!ring) return;
    uint32_t writeIndex = ring->WriteIndex;
    uint32_t readIndex = ring->ReadIndex;
    uint32_t capacity = ring->Capacity;
    MemoryBarrier();
    uint32_t pending = 0;
    if (capacity != kCaptureCapacity || !PendingRecordCount(writeIndex, readIndex, capacity, &pending)) {
        loop.Drained = true;
        ResumeRedraw(loop);
        return;
    }
    if (pending == 0) return;
    char* line = new (std::nothrow) char[pending + kRunPrefixLength + 1];
    if (!line) return;
    uint64_t before = loop.Port.LatestTimestamp;
    RunCut cut = CutRun(RingRecords(ring), capacity, readIndex, pending, before, line);
    loop.Port.LatestTimestamp = cut.LatestTimestamp;
    loop.Drained = cut.Drained;
    // redraw: a run that leaves records pending starts (or continues) a
    // burst; the pane stops repainting until the burst is drained.
    if (!cut.Drained && !loop.RedrawSuspended) {
        SendMessageA(loop.ListBox, WM_SETREDRAW, FALSE, 0);
        loop.RedrawSuspended = true;
        loop.SuspendedAt = GetTickCount();
    }
    uint64_t frequency = ring->TickFrequency;
    if (cut.LatestTimestamp > before && frequency != 0) {
        char timing[kTimingLineCapacity];
        FormatTimingLine(cut.LatestTimestamp - before, frequency, timing, sizeof(timing));
        SendMessageA(loop.ListBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(timing));
    }
    ring->ReadIndex = cut.NextReadIndex;
    SendMessageA(loop.ListBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    delete[] line;
    // redraw: the burst is drained, or (paced) has been dark long enough.
    if (loop.RedrawSuspended &&
        (cut.Drained ||
         (loop.Policy == RedrawPolicy::Paced && GetTickCount() - loop.SuspendedAt >= RepaintMs))) {
        ResumeRedraw(loop);
    }
}

void StartFlash(CaptureLoop& loop) {
    if (loop.ColourIndex == 0 || loop.ColourIndex > kFlashColours) return;
    SetBackground(loop.MainWindow, FlashBrush(loop.ColourIndex));
    ShowWindow(loop.ListBox, SW_HIDE);
    loop.WaitLimit = kFlashMs;
}

void EndFlash(CaptureLoop& loop) {
    SetBackground(loop.MainWindow, loop.SavedBackground);
    ShowWindow(loop.ListBox, SW_SHOWNORMAL);
    loop.WaitLimit = INFINITE;
    for (bool& marked : loop.Marked) marked = false;
}

void Loop(CaptureLoop& loop, bool* done) {
    AttachCapture(loop.Port);
    for (bool& marked : loop.Marked) marked = true;
    HANDLE handles[1 + kCaptureWaits] = {StopEvent, loop.Events[kDataWait],
                                         loop.Events[kSignalWait], loop.Events[kNoticeWait]};
    for (;;) {
        if (!loop.Drained) {
            DataStep(loop);
            continue;
        }
        OVERLAPPED* toIssue[kCaptureWaits] = {};
        for (uint32_t i = 0; i < kCaptureWaits; ++i) {
            if (loop.Marked[i] && !loop.Outstanding[i]) {
                loop.Overlapped[i].hEvent = loop.Events[i];
                toIssue[i] = &loop.Overlapped[i];
            }
        }
        ArmWaits(loop.Port, toIssue, &loop.ColourIndex, loop.Notice, sizeof(loop.Notice),
                 loop.Outstanding);
        DWORD which = WaitForMultipleObjects(1 + kCaptureWaits, handles, FALSE, loop.WaitLimit);
        switch (which) {
            case WAIT_TIMEOUT:
                EndFlash(loop);
                continue;
            case WAIT_OBJECT_0:
                *done = true;
                CancelWaits(loop.Port, loop.Waits, loop.Outstanding);
                DetachCapture(loop.Port);
                return;
            case WAIT_OBJECT_0 + 1 + kDataWait:
                if (WaitWasAborted(loop, kDataWait)) return;
                MarkOnly(loop, kDataWait);
                DataStep(loop);
                continue;
            case WAIT_OBJECT_0 + 1 + kSignalWait:
                if (WaitWasAborted(loop, kSignalWait)) return;
                MarkOnly(loop, kSignalWait);
                StartFlash(loop);
                continue;
            case WAIT_OBJECT_0 + 1 + kNoticeWait:
                if (WaitWasAborted(loop, kNoticeWait)) return;
                MarkOnly(loop, kNoticeWait);
                PublishNotice(NoticeText, loop.Notice, kNoticeSize);
                InterlockedExchange(&NoticeBlink, 1);
                continue;
            default:
                return;
        }
    }
}

}  // namespace

DWORD RepaintMs = 100;

unsigned __stdcall SuspendedRedrawCaptureThread(void* startBlock) {
    SetLastError(ERROR_SUCCESS);
    auto* block = static_cast<ExperimentStartBlock*>(startBlock);
    HWND listBox = block->ListBox;
    PortMonitor* port = block->Port;
    RedrawPolicy policy = block->Policy;
    ReleaseSemaphore(block->Started, 1, nullptr);

    ShowWindow(listBox, SW_SHOWNORMAL);
    bool done = false;
    CaptureLoop loop{*port, listBox, GetParent(listBox), policy};
    loop.SavedBackground =
        reinterpret_cast<HBRUSH>(static_cast<LONG_PTR>(GetClassLongA(loop.MainWindow, GCL_HBRBACKGROUND)));
    bool created = true;
    for (uint32_t i = 0; i < kCaptureWaits && created; ++i) {
        loop.Events[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        created = loop.Events[i] != nullptr;
        loop.Waits[i] = &loop.Overlapped[i];
    }
    if (created && EnsureFlashBrushes()) {
        Loop(loop, &done);
        CancelWaits(*port, loop.Waits, loop.Outstanding);
        ResumeRedraw(loop);
        if (loop.WaitLimit != INFINITE) SetBackground(loop.MainWindow, loop.SavedBackground);
    }
    for (HANDLE event : loop.Events) {
        if (event) CloseHandle(event);
    }
    if (!done) {
        PostMessageA(GetParent(listBox), WM_COMMAND, ID_PORT_REMOVED, reinterpret_cast<LPARAM>(port));
        PostMessageA(listBox, WM_CLOSE, 0, 0);
    }
    return 0;
}

}  // namespace bench
