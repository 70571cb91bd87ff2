#include "port/capture_thread.h"

#include <new>

#include "driver/device_request.h"
#include "driver/stop_event.h"
#include "port/capture_requests.h"
#include "port/capture_ring.h"
#include "port/capture_runs.h"
#include "port/driver_notice.h"
#include "port/flash_brushes.h"
#include "port/pane_call_gate.h"
#include "driver/window_commands.h"
#include "port/timing_line.h"

namespace quorvel {
namespace {

constexpr DWORD kFlashMs = 500;
// While a burst of runs is drained, the pane is repainted at most this often:
// every add to a visible list box repaints it, which costs far more than the
// add itself.
constexpr DWORD kRepaintPaceMs = 200;

// What one loop keeps between its steps; the thread's own.
struct CaptureLoop {
    PortMonitor& Port;
    HWND ListBox;
    HWND MainWindow;
    HBRUSH SavedBackground = nullptr;  // the class background when the loop started
    HANDLE Events[kCaptureWaits] = {};
    OVERLAPPED Overlapped[kCaptureWaits] = {};
    bool Outstanding[kCaptureWaits] = {};  // issued and not yet taken back
    bool Marked[kCaptureWaits] = {};       // to be issued at the next arming
    uint32_t ColourIndex = 0;              // output of the signal wait
    char Notice[kNoticeSize] = {};         // output of the notice wait
    DWORD WaitLimit = INFINITE;
    bool Drained = true;
    bool RedrawSuspended = false;  // the pane's redraw is off during a burst
    DWORD SuspendedAt = 0;         // tick when it was turned off
};

void SetBackground(HWND mainWindow, HBRUSH brush) {
    SetClassLongPtrA(mainWindow, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush));
}

// Reads a finished wait; true when the driver aborted it (the port is lost).
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

// Turns the pane's redraw back on and repaints it at once (a repaint merely
// asked for would be lost if the redraw went off again before it came).
void ResumeRedraw(CaptureLoop& loop) {
    if (!loop.RedrawSuspended) return;
    SendMessageA(loop.ListBox, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(loop.ListBox, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    loop.RedrawSuspended = false;
}

// One run: reads the pending records, cuts the next run and adds its timing
// line and its run line to the pane. A burst of runs (one that leaves
// records pending) is added with the pane's redraw off, repainted every
// kRepaintPaceMs and once more when the burst is drained; the lines and
// their order are the same either way.
void DataStep(CaptureLoop& loop) {
    CaptureRing* ring = loop.Port.CaptureRing;
    if (!ring) return;
    uint32_t writeIndex = ring->WriteIndex;
    uint32_t readIndex = ring->ReadIndex;
    uint32_t capacity = ring->Capacity;
    MemoryBarrier();  // the records are read only after the write index that covers them
    uint32_t pending = 0;
    PaneCalls calls;
    if (capacity != kCaptureCapacity || !PendingRecordCount(writeIndex, readIndex, capacity, &pending)) {
        // A broken ring: read nothing, and wait for the driver again.
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
    // The slots are given back only after the run has been copied out.
    ring->ReadIndex = cut.NextReadIndex;
    SendMessageA(loop.ListBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    delete[] line;
    if (cut.Drained || GetTickCount() - loop.SuspendedAt >= kRepaintPaceMs) ResumeRedraw(loop);
}

void StartFlash(CaptureLoop& loop) {
    // Index 0 leaves the display as it is, and so does an index outside the
    // seven colours.
    if (loop.ColourIndex == 0 || loop.ColourIndex > kFlashColours) return;
    SetBackground(loop.MainWindow, FlashBrush(loop.ColourIndex));
    PaneCalls calls;
    ShowWindow(loop.ListBox, SW_HIDE);
    loop.WaitLimit = kFlashMs;
}

void EndFlash(CaptureLoop& loop) {
    SetBackground(loop.MainWindow, loop.SavedBackground);
    {
        PaneCalls calls;
        ShowWindow(loop.ListBox, SW_SHOWNORMAL);
    }
    loop.WaitLimit = INFINITE;
    for (bool& marked : loop.Marked) marked = false;
}

// StopEvent: the program ends; the pending waits are cancelled and awaited
// and the driver lets go of the ring.
void StopCapture(CaptureLoop& loop, bool* done) {
    *done = true;
    CancelWaits(loop.Port, loop.Overlapped, loop.Outstanding);
    DetachCapture(loop.Port);
}

// The loop proper, once its events and brushes exist.
void Loop(CaptureLoop& loop, bool* done, volatile LONG* noticeBlink, uint32_t noticeSize,
          char* noticeText) {
    AttachCapture(loop.Port);
    for (bool& marked : loop.Marked) marked = true;
    HANDLE handles[1 + kCaptureWaits] = {StopEvent, loop.Events[kDataWait],
                                         loop.Events[kSignalWait], loop.Events[kNoticeWait]};
    for (;;) {
        if (!loop.Drained) {
            // Draining makes no wait, but a long drain must not hold up the
            // program's exit: look at StopEvent between the runs.
            if (WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0) {
                StopCapture(loop, done);
                return;
            }
            DataStep(loop);
            continue;
        }
        OVERLAPPED* toIssue[kCaptureWaits] = {};
        for (uint32_t i = 0; i < kCaptureWaits; ++i) {
            // A wait still outstanding is neither issued again nor touched.
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
                StopCapture(loop, done);
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
                PublishNotice(noticeText, loop.Notice, noticeSize);
                InterlockedExchange(noticeBlink, 1);
                continue;
            default:
                // The wait itself failed: give the port up as if it were lost.
                return;
        }
    }
}

}  // namespace

void RunCapture(PortMonitor& port, HWND listBox, bool* done, volatile LONG* noticeBlink,
                uint32_t noticeSize, char* noticeText) {
    CaptureLoop loop{port, listBox, GetParent(listBox)};
    loop.SavedBackground =
        reinterpret_cast<HBRUSH>(GetClassLongPtrA(loop.MainWindow, GCLP_HBRBACKGROUND));
    bool created = true;
    for (uint32_t i = 0; i < kCaptureWaits && created; ++i) {
        loop.Events[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        created = loop.Events[i] != nullptr;
    }
    if (created && EnsureFlashBrushes()) {
        Loop(loop, done, noticeBlink, noticeSize, noticeText);
        // Whatever ended the loop, no wait may still write into its memory,
        // and the pane is not left without redraw.
        CancelWaits(port, loop.Overlapped, loop.Outstanding);
        if (loop.RedrawSuspended) {
            PaneCalls calls;
            ResumeRedraw(loop);
        }
        if (loop.WaitLimit != INFINITE) SetBackground(loop.MainWindow, loop.SavedBackground);
    }
    for (HANDLE event : loop.Events) {
        if (event) CloseHandle(event);
    }
}

unsigned __stdcall CaptureThread(void* startBlock) {
    SetLastError(ERROR_SUCCESS);
    auto* block = static_cast<CaptureStartBlock*>(startBlock);
    HWND listBox = block->ListBox;
    PortMonitor* port = block->Port;
    ReleaseSemaphore(block->Started, 1, nullptr);  // the block may go away from here on

    {
        PaneCalls calls;
        ShowWindow(listBox, SW_SHOWNORMAL);
    }
    bool done = false;
    RunCapture(*port, listBox, &done, &NoticeBlink, kNoticeSize, NoticeText);
    if (!done) {
        PostMessageA(GetParent(listBox), WM_COMMAND, ID_PORT_REMOVED, reinterpret_cast<LPARAM>(port));
        PostMessageA(listBox, WM_CLOSE, 0, 0);
    }
    return 0;
}

}  // namespace quorvel
