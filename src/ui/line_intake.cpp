#include "ui/line_intake.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "port/pane_line_queue.h"
#include "port/port_monitor.h"
#include "ui/missed_lines.h"
#include "ui/pane_storage.h"
#include "ui/pane_tail.h"
#include "ui/repaint_share.h"

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

// The most bytes of runs that hold a zero byte that a pane keeps whole, for
// copying them as hex; beyond it they are copied as shown.
constexpr size_t kMaxWholeRunBytes = 16 * 1024 * 1024;

// The most memory an emptied batch keeps for the next lines.
constexpr size_t kKeptBatchBytes = 64 * 1024;

// The kind of each line that a pane holds (0 for none known), in blocks
// that are had without throwing: a pane that has filled its memory with
// lines forgets the kinds of its further ones, which are copied as shown.
class LineKinds {
public:
    void Set(size_t index, LineKind kind) {
        size_t block = index / kPerBlock;
        while (blocks_.size() <= block) {
            std::unique_ptr<uint8_t[]> added(new (std::nothrow) uint8_t[kPerBlock]());
            if (!added) return;
            blocks_.push_back(std::move(added));
        }
        blocks_[block][index % kPerBlock] = static_cast<uint8_t>(kind);
    }
    uint8_t Get(size_t index) const {
        size_t block = index / kPerBlock;
        return block < blocks_.size() ? blocks_[block][index % kPerBlock] : 0;
    }

private:
    static constexpr size_t kPerBlock = 64 * 1024;
    std::vector<std::unique_ptr<uint8_t[]>> blocks_;
};

// The intake's own state of one pane, the main thread's alone: the lines
// taken and not all added yet; whether the pane's redraw is off
// for lines added since its last repaint, when that repaint was, and whether
// the pane then showed its last line, from which top line and of how many;
// the item room last asked of the pane; the lines that the pane refused since
// it last took one; what kind each line that the pane holds is, and the whole
// bytes of the runs that it shows only up to a zero byte.
struct PaneIntake {
    LineBatch Taken;
    size_t TakenOffset = 0;
    bool RedrawOff = false;
    DWORD LastRepaint = 0;
    bool Following = false;
    int TopWhenOff = 0;
    int CountWhenOff = 0;
    uint32_t ReservedLines = 0;
    uint32_t MissedLines = 0;
    LineKinds Kinds;                       // of each line the pane holds
    std::map<int, std::string> WholeRuns;  // runs that hold a zero byte, by line index
    size_t WholeRunBytes = 0;
};

// Main thread only: each queue's intake state, made when its first lines
// are taken, dropped when its port goes (ForgetPaneIntake).
std::map<const PaneLineQueue*, PaneIntake>& Intakes() {
    static auto* intakes = new std::map<const PaneLineQueue*, PaneIntake>;
    return *intakes;
}

// The queue's pane: its port's list box, or null.
HWND PaneOf(const PaneLineQueue& queue) { return queue.Port ? queue.Port->ListBox : nullptr; }

const PaneIntake* FindIntake(const PaneLineQueue& queue) {
    auto found = Intakes().find(&queue);
    return found == Intakes().end() ? nullptr : &found->second;
}

// When every taken line has been added, swaps in what the queue has gathered
// since. False when there is nothing to add.
bool TakeLines(PaneIntake& intake, PaneLineQueue& queue) {
    if (intake.TakenOffset < intake.Taken.Bytes()) return true;
    // A batch that grew for a burst gives its memory back; a small one is
    // kept for the next lines.
    if (intake.Taken.Capacity() > kKeptBatchBytes) intake.Taken.Release();
    intake.Taken.Clear();
    intake.TakenOffset = 0;
    return TakeGatheredLines(queue, intake.Taken);
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

// The turn's share of repaints (repaint_share.h), when the last turn began,
// and the repaints that this turn has made. Main thread only.
uint32_t g_repaintShare = 1;
DWORD g_lastTurnStart = 0;
uint32_t g_repaintsThisTurn = 0;

// Sets the turn's share of repaints among the panes owed one (their redraw
// off), for a turn that begins now.
void ShareRepaints(uint32_t owed, DWORD now) {
    g_repaintShare = RepaintShare(owed, now - g_lastTurnStart);
    g_lastTurnStart = now;
    g_repaintsThisTurn = 0;
}

// Whether a pane whose repaint is due after waited ms is repainted in this
// turn: within the turn's share, or past its deadline whatever the share.
bool RepaintAllowed(DWORD waited) {
    return waited >= kRepaintDeadlineMs || g_repaintsThisTurn < g_repaintShare;
}

// Turns the pane's redraw back on once its pace allows and the turn has room
// for it, which updates its scroll bars, and paints it. A pane that showed
// its last line when its redraw went off first moves to its newest line, and
// so does one that the user has scrolled since to the line that was last
// then: while the redraw is off, moving it would cost a scroll and a paint of
// nothing at every turn.
Turn PaceRepaint(HWND pane, PaneIntake& intake, DWORD now) {
    if (!intake.RedrawOff) return Turn::Done;
    DWORD waited = now - intake.LastRepaint;
    if (waited < kRepaintPaceMs || !RepaintAllowed(waited)) return Turn::Waiting;
    int top = static_cast<int>(SendMessageA(pane, LB_GETTOPINDEX, 0, 0));
    int visible = VisibleLines(pane);
    if (top == intake.TopWhenOff ? intake.Following : ShowsLastLine(top, visible, intake.CountWhenOff)) {
        int tail = TailTopIndex(static_cast<int>(SendMessageA(pane, LB_GETCOUNT, 0, 0)), visible);
        if (tail != top) SendMessageA(pane, LB_SETTOPINDEX, tail, 0);
    }
    SendMessageA(pane, WM_SETREDRAW, TRUE, 0);
    // Painted now: the paint that a queued repaint would bring can come after
    // the next lines have turned the redraw off again, and then shows nothing.
    RedrawWindow(pane, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    intake.RedrawOff = false;
    intake.LastRepaint = now;
    ++g_repaintsThisTurn;
    return Turn::Worked;
}

// Turns the pane's redraw off before the first lines since its last repaint,
// and notes whether it shows its last line.
void HoldRedraw(HWND pane, PaneIntake& intake) {
    if (intake.RedrawOff) return;
    intake.CountWhenOff = static_cast<int>(SendMessageA(pane, LB_GETCOUNT, 0, 0));
    intake.TopWhenOff = static_cast<int>(SendMessageA(pane, LB_GETTOPINDEX, 0, 0));
    intake.Following = ShowsLastLine(intake.TopWhenOff, VisibleLines(pane), intake.CountWhenOff);
    SendMessageA(pane, WM_SETREDRAW, FALSE, 0);
    intake.RedrawOff = true;
}

LRESULT AddWithListBox(HWND pane, const char* line) {
    return SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

// The main thread's: how a line is added (SetPaneLineAdder).
PaneLineAdder g_addLine = AddWithListBox;

// Asks the pane again for room ahead of its lines, right after an add, before
// anything else takes the room that the add gave back (pane_storage.h). The
// answer does not matter: a pane without the room grows as it would anyway.
void KeepRoom(HWND pane, PaneIntake& intake, int count) {
    auto lines = static_cast<uint32_t>(count);
    intake.ReservedLines = PaneReservation(lines, intake.ReservedLines);
    SendMessageA(pane, LB_INITSTORAGE, intake.ReservedLines - lines, 0);
}

// Notes what the line that the pane holds at index is, and keeps a run's
// whole bytes where the pane shows it only up to a zero byte.
void NoteHeld(PaneIntake& intake, int index, const BatchLine& line) {
    intake.Kinds.Set(static_cast<size_t>(index), line.Kind);
    bool run = line.Kind == LineKind::Run || line.Kind == LineKind::BareRun;
    if (!run || std::strlen(line.Bytes) == line.Length || intake.WholeRunBytes + line.Length > kMaxWholeRunBytes) return;
    intake.WholeRuns[index].assign(line.Bytes, line.Length);
    intake.WholeRunBytes += line.Length;
}

// Adds a line; false when the pane refused it.
bool Add(HWND pane, PaneIntake& intake, const BatchLine& line, int& count) {
    LRESULT index = g_addLine(pane, line.Bytes);
    if (index < 0) return false;  // LB_ERR or LB_ERRSPACE
    ++count;
    KeepRoom(pane, intake, count);
    NoteHeld(intake, static_cast<int>(index), line);
    return true;
}

// Adds a line, or counts it when the pane refuses it; after refusals the
// notice of how many lines are missing goes first (missed_lines.h).
void AddOrCount(HWND pane, PaneIntake& intake, const BatchLine& line, int& count) {
    if (intake.MissedLines > 0) {
        char notice[kMissedLinesNoticeSize];
        FormatMissedLinesNotice(intake.MissedLines, notice, sizeof(notice));
        if (!Add(pane, intake, TextLine(LineKind::Notice, notice), count)) {
            intake.MissedLines = CountMissedLine(intake.MissedLines);
            return;
        }
        intake.MissedLines = 0;
    }
    if (!Add(pane, intake, line, count)) intake.MissedLines = CountMissedLine(intake.MissedLines);
}

// Whether a pane has waited for its repaint past its deadline.
bool RepaintOverdue(DWORD now) {
    for (const auto& entry : Intakes()) {
        const PaneIntake& intake = entry.second;
        if (intake.RedrawOff && now - intake.LastRepaint >= kRepaintDeadlineMs) return true;
    }
    return false;
}

// Adds up to kLinesPerPane of the queue's lines to its pane, with its
// redraw off, until the turn's end or until a pane's repaint is overdue;
// then repaints it when that is due.
Turn AddLines(PaneLineQueue& queue, DWORD now, DWORD turnEnd) {
    PaneIntake& intake = Intakes()[&queue];
    HWND pane = PaneOf(queue);
    if (!TakeLines(intake, queue)) return IsWindow(pane) ? PaceRepaint(pane, intake, now) : Turn::Done;
    if (!IsWindow(pane)) {
        intake.TakenOffset = intake.Taken.Bytes();  // a pane that is gone takes nothing
        return Turn::Worked;
    }
    HoldRedraw(pane, intake);
    int count = static_cast<int>(SendMessageA(pane, LB_GETCOUNT, 0, 0));
    for (uint32_t added = 0; added < kLinesPerPane && intake.TakenOffset < intake.Taken.Bytes(); ++added) {
        if (added % kLinesBetweenClockReads == kLinesBetweenClockReads - 1) {
            DWORD clock = GetTickCount();
            if (static_cast<LONG>(clock - turnEnd) >= 0 || RepaintOverdue(clock)) break;
        }
        BatchLine line;
        size_t next = intake.Taken.Read(intake.TakenOffset, line);
        AddOrCount(pane, intake, line, count);
        intake.TakenOffset = next;
    }
    PaceRepaint(pane, intake, GetTickCount());
    return Turn::Worked;
}

// A pane owed a repaint, and how long it has waited for it.
struct DuePane {
    DWORD Waited;
    HWND Pane;
    PaneIntake* Intake;
};

// Gathers the panes that have waited at least `waited` ms for their repaint,
// those that have waited longest first, in one walk that also counts every
// pane owed a repaint. A pane whose window has gone is owed nothing.
uint32_t PanesThatWaited(DWORD now, DWORD waited, std::vector<DuePane>& due) {
    uint32_t owed = 0;
    for (auto& [queue, intake] : Intakes()) {
        if (!intake.RedrawOff) continue;
        HWND pane = PaneOf(*queue);
        if (now - intake.LastRepaint < waited) {
            ++owed;
        } else if (!IsWindow(pane)) {
            intake.RedrawOff = false;
        } else {
            ++owed;
            due.push_back({now - intake.LastRepaint, pane, &intake});
        }
    }
    std::sort(due.begin(), due.end(), [](const DuePane& a, const DuePane& b) { return a.Waited > b.Waited; });
    return owed;
}

// Repaints the panes in order, as far as the turn's share goes and beyond it
// for those past their deadline.
void RepaintInOrder(const std::vector<DuePane>& due, DWORD now) {
    for (const DuePane& pane : due) {
        if (PaceRepaint(pane.Pane, *pane.Intake, now) == Turn::Waiting) return;
    }
}

// Sets the turn's share of repaints, and repaints the panes whose repaint
// is due: the lines that other panes have waiting must not hold a pane's
// repaint back until the turn reaches it.
void RepaintDuePanes(DWORD now) {
    std::vector<DuePane> due;
    ShareRepaints(PanesThatWaited(now, kRepaintPaceMs, due), now);
    RepaintInOrder(due, now);
}

// Repaints, within a turn, the panes past their deadline: a turn that adds
// lines for tens of milliseconds must not hold them until the next.
void RepaintOverduePanes() {
    DWORD now = GetTickCount();
    std::vector<DuePane> due;
    PanesThatWaited(now, kRepaintDeadlineMs, due);
    RepaintInOrder(due, now);
}

// What a turn leaves for the next.
enum class Left {
    Nothing,   // no lines and no repaint owed: the next lines wake the intake
    Repaints,  // only repaints owed that are not due yet
    Lines,     // lines not added yet
};

Left RunTurn() {
    DWORD start = GetTickCount();
    RepaintDuePanes(start);
    bool waiting = false;
    for (;;) {
        PaneLineQueue* queues[kQueuesPerTurn];
        size_t count = TakeListedQueues(queues, kQueuesPerTurn);
        if (count == 0) break;
        bool worked = false;
        for (size_t i = 0; i < count; ++i) {
            // Out of time: the queues not yet served go first next turn.
            if (GetTickCount() - start >= kIntakeTurnMs) {
                ListAheadAgain(queues + i, count - i);
                return Left::Lines;
            }
            RepaintOverduePanes();
            Turn turn = AddLines(*queues[i], GetTickCount(), start + kIntakeTurnMs);
            if (turn != Turn::Done) ListAgain(*queues[i]);
            worked = worked || turn == Turn::Worked;
            waiting = waiting || turn == Turn::Waiting;
        }
        // Only owed repaints are left: they wait for a later turn.
        if (!worked) return Left::Repaints;
    }
    if (waiting) return Left::Repaints;
    // Nothing is left: from now on the next lines wake the intake again. A
    // queue listed between the last look and this point found the intake
    // awake and did not wake it; look once more.
    InterlockedExchange(&g_awake, 0);
    if (!AnyListedQueue()) return Left::Nothing;
    InterlockedExchange(&g_awake, 1);
    return Left::Lines;
}

// Whether input, a repaint or a timer that is due waits for the thread:
// they come only after its posted messages.
bool OthersWait() {
    return HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT | QS_TIMER | QS_HOTKEY)) != 0;
}

// After a turn, lines left come at once, in a turn posted behind whatever is
// posted meanwhile, unless input, a repaint or a due timer waits: then the
// timer brings the next turn, after them. A turn that owes only repaints not
// yet due waits for the timer too, rather than spin until they are.
LRESULT CALLBACK IntakeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWakeMessage || (message == WM_TIMER && wParam == kIntakeTimer)) {
        Left left = RunTurn();
        KillTimer(window, kIntakeTimer);
        if (left == Left::Lines && !OthersWait() && PostMessageA(window, kWakeMessage, 0, 0)) return 0;
        if (left != Left::Nothing) SetTimer(window, kIntakeTimer, kIntakeTimerMs, nullptr);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool RunLineIntake() { return RunTurn() != Left::Nothing; }

void WakeLineIntake() {
    if (InterlockedExchange(&g_awake, 1) == 0) {
        HWND intake = g_intake;
        if (!intake || !PostMessageA(intake, kWakeMessage, 0, 0)) InterlockedExchange(&g_awake, 0);
    }
}

void ForgetPaneIntake(const PaneLineQueue& queue) { Intakes().erase(&queue); }

bool HeldLine(const PaneLineQueue& queue, int index, LineKind* kind, std::string* wholeRun) {
    const PaneIntake* intake = FindIntake(queue);
    uint8_t held = intake && index >= 0 ? intake->Kinds.Get(static_cast<size_t>(index)) : 0;
    if (held == 0) return false;
    *kind = static_cast<LineKind>(held);
    auto whole = intake->WholeRuns.find(index);
    wholeRun->clear();
    if (whole != intake->WholeRuns.end()) *wholeRun = whole->second;
    return true;
}

uint32_t MissedLines(const PaneLineQueue& queue) {
    const PaneIntake* intake = FindIntake(queue);
    return intake ? intake->MissedLines : 0;
}

bool AllTakenLinesAdded(const PaneLineQueue& queue) {
    const PaneIntake* intake = FindIntake(queue);
    return !intake || intake->TakenOffset >= intake->Taken.Bytes();
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
    // Lines queued before the start wait to be taken.
    InterlockedExchange(&g_awake, 0);
    WakeLineIntake();
    return true;
}

void StopLineIntake() {
    HWND intake = g_intake;
    g_intake = nullptr;
    if (intake) DestroyWindow(intake);
    InterlockedExchange(&g_awake, 0);
}

}  // namespace quorvel
