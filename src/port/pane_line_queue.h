// The hand-over of pane lines from a port's capture thread to the main
// thread, which alone adds them to the pane.
//
// A cross-thread call costs a capture thread far more than the add itself,
// and every capture thread shares the one main thread. So a capture thread
// queues the lines of its runs, and the main thread takes all that a pane has
// gathered in one go whenever it gets to them. The first lines that a queue
// gathers after the main thread took the last ones call the waker, once, to
// ask the main thread to come; it takes lines only when it has nothing more
// urgent to do.
//
// One lock guards every queue's gathered lines and the list of queues that
// have some; it is held only to copy a run's lines in or to swap a batch out.
#pragma once

#include <windows.h>

#include <cstddef>

#include "port/line_batch.h"

namespace quorvel {

// The most a pane gathers before the main thread takes it; a capture thread
// that finds it full leaves its records in the ring until there is room.
constexpr size_t kMaxGatheredBytes = 4 * 1024 * 1024;
// The most memory an emptied batch keeps for the next lines.
constexpr size_t kKeptBatchBytes = 64 * 1024;

struct PaneLineQueue {
    // The pane. Written by the capture thread before its first lines, read
    // by the main thread after taking them (the lock orders the two).
    HWND Pane = nullptr;
    // Guarded by the lock: written by the capture thread, taken by the main
    // thread.
    LineBatch Gathered;
    bool Listed = false;               // guarded: in the list of queues with lines
    PaneLineQueue* NextListed = nullptr;  // guarded
    // The main thread's alone: lines taken and not all added yet; whether the
    // pane's redraw is off for lines added since its last repaint, and when
    // that repaint was; the item room last asked of the pane; the lines that
    // the pane refused since it last took one.
    LineBatch Taken;
    size_t TakenOffset = 0;
    bool RedrawOff = false;
    DWORD LastRepaint = 0;
    uint32_t ReservedLines = 0;
    uint32_t MissedLines = 0;
};

// The call that asks the main thread to take lines (from any thread); none
// until one is set. Set by the user interface before any capture starts.
void SetLineWaker(void (*wake)());

// Capture thread: queues a run's timing line (or none) and its run line,
// both or neither. False when the pane has gathered its most or memory
// cannot be had; nothing is queued then.
bool QueueLines(PaneLineQueue& queue, const char* timing, const char* run);

// Main thread: takes up to capacity of the queues that have gathered lines,
// oldest first, into queues; those are no longer listed. Returns how many.
size_t TakeListedQueues(PaneLineQueue** queues, size_t capacity);

// Whether any queue has gathered lines that the main thread has not taken.
bool AnyListedQueue();

// Main thread: puts a queue back on the list (its lines were not all added).
void ListAgain(PaneLineQueue& queue);

// Main thread: when every taken line has been added, swaps in what the queue
// has gathered since. False when there is nothing to add.
bool TakeGatheredLines(PaneLineQueue& queue);

// Main thread, once the capture thread has ended: drops the queue from the
// list and gives its memory back.
void ForgetQueue(PaneLineQueue& queue);

}  // namespace quorvel
