// The main thread's intake of pane lines: it takes the lines that the capture
// threads have queued (pane_line_queue.h) and adds them to their panes, on
// the thread that owns the panes.
//
// The intake is a message-only window of the main thread. The first lines
// after a quiet spell wake it with one posted message. Each turn adds lines
// for at most kIntakeTurnMs; when lines are left, the next turn is posted at
// once behind whatever else is posted, unless input, a repaint or a due
// timer waits for the thread: then a 10 ms timer of its own brings it back,
// and a timer message is the last that a thread is given, after its posted
// messages, input and repaints. So however much traffic there is, the
// window answers first, and the intake has the time that is left, without
// idling while lines wait.
//
// Lines are added with the pane's redraw off, and the redraw goes back on,
// which updates the pane's scroll bars and repaints it, at most every
// kRepaintPaceMs: each turn first repaints the panes whose repaint is due,
// those that have waited longest first, as many as its share of repaints
// and every one past its deadline (repaint_share.h), and only then adds
// lines; under Wine a pane's scroll bars cost as much to update as
// thousands of adds (a millisecond, and ten with themed scroll bars). A
// pane that showed its last line when its redraw went off shows its newest
// at the repaint; it is not moved before, since moving a pane scrolls and
// repaints it even with its redraw off. A line that a pane refuses is
// counted, never retried (missed_lines.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "port/line_batch.h"

namespace quorvel {

struct PaneLineQueue;

constexpr DWORD kIntakeTimerMs = 10;
constexpr DWORD kIntakeTurnMs = 25;

// Creates the intake window on the calling thread (which must own the panes
// and serve its messages). True when it exists.
bool StartLineIntake();

// Asks the intake to come (from any thread): the capture pane's LinesQueued.
void WakeLineIntake();

// Main thread, when a port goes: drops the intake's state of its queue.
void ForgetPaneIntake(const PaneLineQueue& queue);

// What the queue's pane holds at a line index: the line's kind and, for a run
// that holds a zero byte (which the pane shows only up to it), the run's whole
// line; otherwise wholeRun is empty. False for a line the intake did not add.
// Main thread.
bool HeldLine(const PaneLineQueue& queue, int index, LineKind* kind, std::string* wholeRun);

// For tests: the lines that the queue's pane has refused since it last took
// one, and whether every line taken from the queue has been added.
uint32_t MissedLines(const PaneLineQueue& queue);
bool AllTakenLinesAdded(const PaneLineQueue& queue);

// Destroys the intake window; lines queued from now on wait until it is
// started again.
void StopLineIntake();

// One turn of the intake, as its timer runs it; for tests that want the
// lines in their panes at once. True when lines are left for another turn.
bool RunLineIntake();

// How the intake adds a line to a pane: the list box's answer to
// LB_ADDSTRING, whose index, or LB_ERR or LB_ERRSPACE when the pane refuses
// the line (missed_lines.h says what follows). Tests put in a call that
// refuses lines, as a list box out of room does; null puts the list box
// back. Main thread.
using PaneLineAdder = LRESULT (*)(HWND pane, const char* line);
void SetPaneLineAdder(PaneLineAdder add);

}  // namespace quorvel
