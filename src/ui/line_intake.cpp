#include "ui/line_intake.h"

#include <cstring>

#include "port/pane_line_queue.h"
#include "ui/missed_lines.h"
#include "ui/pane_storage.h"
#include "ui/pane_tail.h"

namespace quorvel {
namespace {

constexpr char kIntakeClass[] = "QuorvelLineIntake";
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kIntakeTimer = 1;
constexpr size_t kQueuesPerTurn = 64;
// Lines one pane gets before the next pane's turn within the same turn, and
// how often the clock is read meanwhile: an add to a long pane costs more
// than one to a short one.
constexpr uint32_t kLinesPerPane = 1024;
constexpr uint32_t kLinesBetweenClockReads = 64;

// The intake window: written by the main thread at start and stop, read by
// the capture threads' waker.
volatile HWND g_intake = nullptr;
// 1 from the wake-up until a turn finds nothing left: the capture threads'
// waker posts only when it turns it from 0 to 1.
volatile LONG g_awake = 0;

void Wake() {
    if (InterlockedExchange(&g_awake, 1) == 0) {
        HWND intake = g_intake;
        if (!intake || !PostMessageA(intake, kWakeMessage, 0, 0)) InterlockedExchange(&g_awake, 0);
    }
}

int VisibleLines(HWND pane) {
    RECT client;
    LRESULT height = SendMessageA(pane, LB_GETITEMHEIGHT, 0, 0);
    if (!GetClientRect(pane, &client) || height <= 0) return 1;
    return client.bottom / static_cast<int>(height);
}

// What a queue's turn did.
enum class Turn {
    Done,     // nothing left: no lines, no repaint owed
    Worked,   // lines added or the pane repainted; more may follow
    Waiting,  // a repaint is owed but not due yet
};

// One pane's redraw goes back on per turn at the most: that alone can take
// tens of milliseconds. Main thread only.
bool g_redrawnThisTurn = false;

// Turns the pane's redraw back on once its pace allows and the turn has not
// had one yet, which updates its scroll bars and repaints it.
Turn PaceRepaint(PaneLineQueue& queue, DWORD now) {
    if (!queue.RedrawOff) return Turn::Done;
    if (now - queue.LastRepaint < kRepaintPaceMs || g_redrawnThisTurn) return Turn::Waiting;
    g_redrawnThisTurn = true;
    SendMessageA(queue.Pane, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(queue.Pane, nullptr, TRUE);
    queue.RedrawOff = false;
    queue.LastRepaint = now;
    return Turn::Worked;
}

LRESULT AddWithListBox(HWND pane, const char* line) {
    return SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

// The main thread's: how a line is added (SetPaneLineAdder).
PaneLineAdder g_addLine = AddWithListBox;

// Asks the pane again for room ahead of its lines, right after an add, before
// anything else takes the room that the add gave back (pane_storage.h). The
// answer does not matter: a pane without the room grows as it would anyway.
void KeepRoom(PaneLineQueue& queue, int count) {
    auto lines = static_cast<uint32_t>(count);
    queue.ReservedLines = PaneReservation(lines, queue.ReservedLines);
    SendMessageA(queue.Pane, LB_INITSTORAGE, queue.ReservedLines - lines, 0);
}

// Adds a line; false when the pane refused it.
bool Add(PaneLineQueue& queue, const char* line, int& count) {
    if (g_addLine(queue.Pane, line) < 0) return false;  // LB_ERR or LB_ERRSPACE
    ++count;
    KeepRoom(queue, count);
    return true;
}

// Adds a line, or counts it when the pane refuses it; after refusals the
// notice of how many lines are missing goes first (missed_lines.h).
void AddOrCount(PaneLineQueue& queue, const char* line, int& count) {
    if (queue.MissedLines > 0) {
        char notice[kMissedLinesNoticeSize];
        FormatMissedLinesNotice(queue.MissedLines, notice, sizeof(notice));
        if (!Add(queue, notice, count)) {
            queue.MissedLines = CountMissedLine(queue.MissedLines);
            return;
        }
        queue.MissedLines = 0;
    }
    if (!Add(queue, line, count)) queue.MissedLines = CountMissedLine(queue.MissedLines);
}

// Adds up to kLinesPerPane of the queue's lines to its pane, with its
// redraw off, until the turn's end; or repaints it when that is due.
Turn AddLines(PaneLineQueue& queue, DWORD now, DWORD turnEnd) {
    HWND pane = queue.Pane;
    if (!TakeGatheredLines(queue)) return IsWindow(pane) ? PaceRepaint(queue, now) : Turn::Done;
    if (!IsWindow(pane)) {
        queue.TakenOffset = queue.Taken.Bytes();  // a pane that is gone takes nothing
        return Turn::Worked;
    }
    int count = static_cast<int>(SendMessageA(pane, LB_GETCOUNT, 0, 0));
    int visible = VisibleLines(pane);
    bool following = ShowsLastLine(static_cast<int>(SendMessageA(pane, LB_GETTOPINDEX, 0, 0)), visible, count);
    if (!queue.RedrawOff) {
        SendMessageA(pane, WM_SETREDRAW, FALSE, 0);
        queue.RedrawOff = true;
    }
    const char* data = queue.Taken.Data();
    for (uint32_t added = 0; added < kLinesPerPane && queue.TakenOffset < queue.Taken.Bytes(); ++added) {
        if (added % kLinesBetweenClockReads == kLinesBetweenClockReads - 1 &&
            static_cast<LONG>(GetTickCount() - turnEnd) >= 0) {
            break;
        }
        const char* line = data + queue.TakenOffset;
        AddOrCount(queue, line, count);
        queue.TakenOffset += std::strlen(line) + 1;
    }
    if (following) SendMessageA(pane, LB_SETTOPINDEX, TailTopIndex(count, visible), 0);
    return Turn::Worked;
}

LRESULT CALLBACK IntakeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWakeMessage || (message == WM_TIMER && wParam == kIntakeTimer)) {
        if (RunLineIntake()) {
            SetTimer(window, kIntakeTimer, kIntakeTimerMs, nullptr);
        } else {
            KillTimer(window, kIntakeTimer);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool RunLineIntake() {
    DWORD start = GetTickCount();
    g_redrawnThisTurn = false;
    bool waiting = false;
    for (;;) {
        PaneLineQueue* queues[kQueuesPerTurn];
        size_t count = TakeListedQueues(queues, kQueuesPerTurn);
        if (count == 0) break;
        bool worked = false;
        for (size_t i = 0; i < count; ++i) {
            // Out of time: the queues not yet served keep their place.
            if (GetTickCount() - start >= kIntakeTurnMs) {
                for (size_t rest = i; rest < count; ++rest) ListAgain(*queues[rest]);
                return true;
            }
            Turn turn = AddLines(*queues[i], GetTickCount(), start + kIntakeTurnMs);
            if (turn != Turn::Done) ListAgain(*queues[i]);
            worked = worked || turn == Turn::Worked;
            waiting = waiting || turn == Turn::Waiting;
        }
        // Only owed repaints are left: they wait for a later turn.
        if (!worked) return true;
    }
    if (waiting) return true;
    // Nothing is left: from now on the next lines wake the intake again. A
    // queue listed between the last look and this point found the intake
    // awake and did not wake it; look once more.
    InterlockedExchange(&g_awake, 0);
    if (!AnyListedQueue()) return false;
    InterlockedExchange(&g_awake, 1);
    return true;
}

void SetPaneLineAdder(PaneLineAdder add) { g_addLine = add ? add : AddWithListBox; }

bool StartLineIntake() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = IntakeProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kIntakeClass;
    RegisterClassA(&windowClass);  // fails harmlessly when it is registered already
    HWND intake = CreateWindowExA(0, kIntakeClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!intake) return false;
    g_intake = intake;
    SetLineWaker(Wake);
    // Lines queued before the start wait to be taken.
    InterlockedExchange(&g_awake, 0);
    Wake();
    return true;
}

void StopLineIntake() {
    HWND intake = g_intake;
    g_intake = nullptr;
    if (intake) DestroyWindow(intake);
    InterlockedExchange(&g_awake, 0);
}

}  // namespace quorvel
