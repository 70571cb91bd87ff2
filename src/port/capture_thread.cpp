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
#include "port/pane_line_queue.h"
#include "driver/window_commands.h"
#include "port/timing_line.h"

namespace quorvel {
namespace {

constexpr DWORD kFlashMs = 500;
// How long a loop whose pane has gathered its most waits before it tries
// again; the records stay in the ring meanwhile.
constexpr DWORD kRoomWaitMs = 10;

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
    char* RunLine = nullptr;  // room for the longest run of the ring and its prefix
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

// The records stay pending: the next data step reads them again, after a
// short wait so that the loop does not spin while the main thread catches up.
void KeepPending(CaptureLoop& loop) {
    loop.Drained = false;
    WaitForSingleObject(StopEvent, kRoomWaitMs);
}

// One run: reads the pending records, cuts the next run and queues its
// timing line and its run line for the pane, where the main thread adds
// them. The slots are given back only once the run's lines are queued.
void DataStep(CaptureLoop& loop) {
    CaptureRing* ring = loop.Port.CaptureRing;
    if (!ring) return;
    uint32_t writeIndex = ring->WriteIndex;
    uint32_t readIndex = ring->ReadIndex;
    uint32_t capacity = ring->Capacity;
    MemoryBarrier();  // the records are read only after the write index that covers them
    uint32_t pending = 0;
    if (capacity != kCaptureCapacity || !PendingRecordCount(writeIndex, readIndex, capacity, &pending)) {
        // A broken ring: read nothing, and wait for the driver again.
        loop.Drained = true;
        return;
    }
    if (pending == 0) return;
    if (!loop.RunLine) loop.RunLine = new (std::nothrow) char[kCaptureCapacity + kRunPrefixLength + 1];
    if (!loop.RunLine) return KeepPending(loop);
    uint64_t before = loop.Port.LatestTimestamp;
    RunCut cut = CutRun(RingRecords(ring), capacity, readIndex, pending, before, loop.RunLine);
    uint64_t frequency = ring->TickFrequency;
    char timing[kTimingLineCapacity];
    bool timed = cut.LatestTimestamp > before && frequency != 0;
    if (timed) FormatTimingLine(cut.LatestTimestamp - before, frequency, timing, sizeof(timing));
    if (!QueueLines(loop.Port.PaneLines, timed ? timing : nullptr, loop.RunLine)) return KeepPending(loop);
    loop.Port.LatestTimestamp = cut.LatestTimestamp;
    loop.Drained = cut.Drained;
    ring->ReadIndex = cut.NextReadIndex;
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
    port.PaneLines.Pane = listBox;
    loop.SavedBackground = reinterpret_cast<HBRUSH>(GetClassLongPtrA(loop.MainWindow, GCLP_HBRBACKGROUND));
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
        if (loop.WaitLimit != INFINITE) SetBackground(loop.MainWindow, loop.SavedBackground);
    }
    for (HANDLE event : loop.Events) {
        if (event) CloseHandle(event);
    }
    delete[] loop.RunLine;
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
