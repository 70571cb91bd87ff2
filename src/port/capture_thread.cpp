#include "port/capture_thread.h"

#include <cstdint>

#include "driver/device_request.h"
#include "driver/stop_event.h"
#include "port/capture_pane.h"
#include "port/capture_requests.h"
#include "port/capture_ring.h"
#include "port/capture_runs.h"
#include "port/driver_notice.h"
#include "port/hex_pairs.h"
#include "port/line_batch.h"
#include "port/pane_line_queue.h"
#include "port/timing_line.h"
#include "system/scoped_handles.h"

namespace quorvel {
namespace {

constexpr DWORD kFlashMs = 500;
// How long a loop whose pane has gathered its most waits before it tries
// again; the records stay in the ring meanwhile.
constexpr DWORD kRoomWaitMs = 10;
// How long a loop waits before it asks the driver for data again after it
// found the ring broken.
constexpr DWORD kBrokenRingWaitMs = 250;
// The most line bytes that one step cuts before it hands them over: the
// queue's lock is taken once a step, not once a run, which for one-byte runs
// cost more than cutting them.
constexpr size_t kStepLineBytes = 64 * 1024;
// How often a draining loop looks whether the program ends.
constexpr DWORD kStopLookMs = 10;

// What one loop keeps between its steps; the thread's own.
struct CaptureLoop {
    CaptureLoop(PortMonitor& port, HWND listBox, const CapturePane& pane)
        : Port(port), ListBox(listBox), Pane(pane) {}
    PortMonitor& Port;
    HWND ListBox;
    const CapturePane& Pane;
    HBRUSH SavedBackground = nullptr;  // the class background when the loop started
    ScopedHandle Events[kCaptureWaits];
    OVERLAPPED Overlapped[kCaptureWaits] = {};
    bool Outstanding[kCaptureWaits] = {};  // issued and not yet taken back
    bool ToIssue[kCaptureWaits] = {};      // to be issued at the next arming
    uint32_t ColourIndex = 0;              // output of the signal wait
    char Notice[kNoticeSize] = {};         // output of the notice wait
    DWORD WaitLimit = INFINITE;            // 500 ms while a flash shows
    DWORD LastStopLook = GetTickCount();   // when a drain last looked at StopEvent
    bool Drained = true;
    OwnedBuffer<char> RunLine;  // room for the longest run of the ring and its prefix
    OwnedBuffer<char> HexLine;  // the run line as hex pairs, when the pane asks for them
    LineBatch Step;             // the lines of one step's runs, handed over at once
};

// How a loop ended: the driver dropped the port (and with it the ring), a
// wait failed while the port stayed, or StopEvent.
enum class Ending { Lost, Failed, Stopped };

// Reads a finished wait; true when the driver aborted it (the port is lost).
bool WaitWasAborted(CaptureLoop& loop, uint32_t wait) {
    loop.Outstanding[wait] = false;
    DWORD bytes = 0;
    if (ReadRequestResult(loop.Port.DeviceHandle, loop.Overlapped[wait], &bytes)) return false;
    return GetLastError() == ERROR_OPERATION_ABORTED;
}

// Unmarks every wait but one that failed at once (neither pending nor
// completed): that one is tried again at the next arming instead of never
// again, since its port's traffic would go unseen for good otherwise.
void KeepFailedWaitsMarked(CaptureLoop& loop) {
    for (uint32_t i = 0; i < kCaptureWaits; ++i) loop.ToIssue[i] = loop.ToIssue[i] && !loop.Outstanding[i];
}

// Marks the wait for issuing, and no other but those that failed at once.
void IssueOnly(CaptureLoop& loop, uint32_t wait) {
    KeepFailedWaitsMarked(loop);
    loop.ToIssue[wait] = true;
}

// The records stay pending: the next run step reads them again, after a
// short wait so that the loop does not spin while the main thread catches up.
void KeepPending(CaptureLoop& loop) {
    loop.Drained = false;
    WaitForSingleObject(StopEvent, kRoomWaitMs);
}

// The run's line as its pane asks for it: the bytes as they are, or as hex
// pairs (as they are when there is no memory for the pairs).
BatchLine RunLineOf(CaptureLoop& loop, const RunCut& cut) {
    bool prefixed = cut.Direction == kDirectionTx || cut.Direction == kDirectionRx;
    const char* line = loop.RunLine.Get();
    if (InterlockedCompareExchange(&loop.Port.ShowHex, 0, 0) != 0 &&
        loop.HexLine.Ensure(HexRunLineCapacity(cut.LineLength))) {
        size_t length = HexRunLine(line, cut.LineLength, prefixed ? kRunPrefixLength : 0, loop.HexLine.Get());
        return BatchLine{LineKind::HexRun, loop.HexLine.Get(), static_cast<uint32_t>(length)};
    }
    return BatchLine{prefixed ? LineKind::Run : LineKind::BareRun, line, static_cast<uint32_t>(cut.LineLength)};
}

// Where a step's cutting has got to.
struct StepCut {
    uint32_t ReadIndex = 0;
    uint32_t Left = 0;          // records pending behind ReadIndex
    uint64_t Latest = 0;        // the latest timestamp so far
};

// Cuts runs from the pending records into the loop's step batch, each with
// its timing line, until none is left or the batch holds kStepLineBytes.
// The ring's capacity is the one checked when the step began.
void CutStep(CaptureLoop& loop, CaptureRing& ring, uint32_t capacity, StepCut& at) {
    loop.Step.Clear();
    uint64_t frequency = ring.TickFrequency;
    while (at.Left > 0 && loop.Step.Bytes() < kStepLineBytes) {
        RunCut cut = CutRun(RingRecords(&ring), capacity, at.ReadIndex, at.Left, at.Latest, loop.RunLine.Get());
        char timing[kTimingLineCapacity];
        bool timed = cut.LatestTimestamp > at.Latest && frequency != 0;
        if (timed) FormatTimingLine(cut.LatestTimestamp - at.Latest, frequency, timing, sizeof(timing));
        BatchLine timingLine = timed ? TextLine(LineKind::Timing, timing) : BatchLine{};
        if (!loop.Step.Append(timed ? &timingLine : nullptr, RunLineOf(loop, cut), SIZE_MAX)) return;
        at = StepCut{cut.NextReadIndex, at.Left - cut.Taken, cut.LatestTimestamp};
    }
}

// One step: reads the pending records, cuts them into runs and queues each
// run's timing line and run line for the pane, where the main thread adds
// them; the runs of a step go over at once. The slots are given back only
// once their lines are queued.
void TakeNextRun(CaptureLoop& loop) {
    CaptureRing* ring = loop.Port.CaptureRing;
    if (!ring) return;
    uint32_t writeIndex = ring->WriteIndex;
    uint32_t readIndex = ring->ReadIndex;
    uint32_t capacity = ring->Capacity;
    MemoryBarrier();  // the records are read only after the write index that covers them
    uint32_t pending = 0;
    if (capacity != kCaptureCapacity || !PendingRecordCount(writeIndex, readIndex, capacity, &pending)) {
        // A broken ring: read nothing. The driver completes a data wait at
        // once while it sees records pending, so the next one goes out only
        // after a pause: no busy loop, no flood of requests, and the capture
        // goes on once the ring is sound again.
        WaitForSingleObject(StopEvent, kBrokenRingWaitMs);
        loop.Drained = true;
        return;
    }
    if (pending == 0) return;
    if (!loop.RunLine.Ensure(kCaptureCapacity + kRunPrefixLength + 1)) return KeepPending(loop);
    StepCut at{readIndex, pending, loop.Port.LatestTimestamp};
    CutStep(loop, *ring, capacity, at);
    if (loop.Step.Empty() || !QueueBatch(loop.Port.PaneLines, loop.Step)) return KeepPending(loop);
    loop.Port.LatestTimestamp = at.Latest;
    loop.Drained = at.Left == 0;
    ring->ReadIndex = at.ReadIndex;
}

// Whether the program ends, looked at no more often than every kStopLookMs:
// under Wine each look is a round trip to the server, which on a busy
// machine costs more than cutting a run. Looking once a run held the drain
// of a full ring of one-byte runs to 40 % of its rate.
bool StopDue(CaptureLoop& loop) {
    DWORD now = GetTickCount();
    if (now - loop.LastStopLook < kStopLookMs) return false;
    loop.LastStopLook = now;
    return WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0;
}

void StartFlash(CaptureLoop& loop) {
    // Index 0 leaves the display as it is, and so does one the pane cannot show.
    if (loop.Pane.Flash(loop.ListBox, loop.ColourIndex)) loop.WaitLimit = kFlashMs;
}

void EndFlash(CaptureLoop& loop) {
    loop.Pane.Restore(loop.ListBox, loop.SavedBackground, true);
    loop.WaitLimit = INFINITE;
    KeepFailedWaitsMarked(loop);  // nothing new to issue
}

// StopEvent: the program ends; the pending waits are cancelled and awaited
// and the driver lets go of the ring.
Ending StopCapture(CaptureLoop& loop) {
    CancelWaits(loop.Port, loop.Overlapped, loop.Outstanding);
    DetachCapture(loop.Port);
    return Ending::Stopped;
}

// Issues the waits to be issued; one still outstanding is neither issued
// again nor touched.
void ArmLoopWaits(CaptureLoop& loop) {
    OVERLAPPED* toIssue[kCaptureWaits] = {};
    for (uint32_t i = 0; i < kCaptureWaits; ++i) {
        if (loop.ToIssue[i] && !loop.Outstanding[i]) {
            loop.Overlapped[i].hEvent = loop.Events[i].Get();
            toIssue[i] = &loop.Overlapped[i];
        }
    }
    ArmWaits(loop.Port, toIssue, &loop.ColourIndex, loop.Notice, sizeof(loop.Notice), loop.Outstanding);
}

// What one completed wait of the port means. False when the driver aborted
// it: the port is lost.
bool ServeWait(CaptureLoop& loop, uint32_t wait, volatile LONG* noticeBlink, uint32_t noticeSize,
               char* noticeText) {
    if (WaitWasAborted(loop, wait)) return false;
    IssueOnly(loop, wait);
    if (wait == kDataWait) {
        TakeNextRun(loop);
    } else if (wait == kSignalWait) {
        StartFlash(loop);
    } else {
        PublishNotice(noticeText, loop.Notice, noticeSize);
        InterlockedExchange(noticeBlink, 1);
    }
    return true;
}

// The loop proper, once its events and the flash colours exist.
Ending RunCaptureLoop(CaptureLoop& loop, volatile LONG* noticeBlink, uint32_t noticeSize, char* noticeText) {
    AttachCapture(loop.Port);
    for (bool& issue : loop.ToIssue) issue = true;
    HANDLE handles[1 + kCaptureWaits] = {StopEvent, loop.Events[kDataWait].Get(),
                                         loop.Events[kSignalWait].Get(), loop.Events[kNoticeWait].Get()};
    for (;;) {
        if (!loop.Drained) {
            // Draining makes no wait, but a long drain must not hold up the
            // program's exit: StopEvent is looked at between the runs.
            if (StopDue(loop)) return StopCapture(loop);
            TakeNextRun(loop);
            continue;
        }
        ArmLoopWaits(loop);
        DWORD which = WaitForMultipleObjects(1 + kCaptureWaits, handles, FALSE, loop.WaitLimit);
        if (which == WAIT_TIMEOUT) {
            EndFlash(loop);
        } else if (which == WAIT_OBJECT_0) {
            return StopCapture(loop);
        } else if (which > WAIT_OBJECT_0 && which <= WAIT_OBJECT_0 + kCaptureWaits) {
            if (!ServeWait(loop, which - WAIT_OBJECT_0 - 1, noticeBlink, noticeSize, noticeText)) {
                return Ending::Lost;
            }
        } else {
            return Ending::Failed;  // the wait itself failed: give the port up as if it were lost
        }
    }
}

// The capture loop of one port; returns when its capture has ended.
// *endedByStop is set only when StopEvent ended it.
void RunCapture(PortMonitor& port, HWND listBox, bool* endedByStop, volatile LONG* noticeBlink,
                uint32_t noticeSize, char* noticeText) {
    CaptureLoop loop(port, listBox, CurrentCapturePane());
    loop.SavedBackground = loop.Pane.Background(listBox);
    bool created = true;
    for (uint32_t i = 0; i < kCaptureWaits && created; ++i) {
        loop.Events[i].Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        created = static_cast<bool>(loop.Events[i]);
    }
    if (!created || !loop.Pane.PrepareFlash()) return;
    Ending ending = RunCaptureLoop(loop, noticeBlink, noticeSize, noticeText);
    *endedByStop = ending == Ending::Stopped;
    // Whatever ended the loop, no wait may still write into its memory, and
    // the window's background is not left on a flash colour.
    CancelWaits(port, loop.Overlapped, loop.Outstanding);
    // A port that the driver did not drop still has its ring lent: the
    // driver lets go of it before the main thread may free it.
    if (ending == Ending::Failed) DetachCapture(port);
    if (loop.WaitLimit != INFINITE) loop.Pane.Restore(listBox, loop.SavedBackground, false);
}

}  // namespace

unsigned __stdcall CaptureThread(void* startBlock) {
    SetLastError(ERROR_SUCCESS);
    auto* block = static_cast<CaptureStartBlock*>(startBlock);
    HWND listBox = block->ListBox;
    PortMonitor* port = block->Port;
    ReleaseSemaphore(block->Started, 1, nullptr);  // the block may go away from here on

    const CapturePane& pane = CurrentCapturePane();
    pane.Show(listBox);
    bool endedByStop = false;
    RunCapture(*port, listBox, &endedByStop, &NoticeBlink, kNoticeSize, NoticeText);
    if (!endedByStop) pane.Lost(listBox, port);
    return 0;
}

}  // namespace quorvel
