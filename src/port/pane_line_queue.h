// The hand-over of pane lines from a port's capture thread to the main
// thread, which alone adds them to the pane.
//
// A cross-thread call costs a capture thread far more than the add itself,
// and every capture thread shares the one main thread. So a capture thread
// queues the lines of its runs, and the main thread takes all that a pane has
// gathered in one go whenever it gets to them. The first lines that a queue
// gathers after the main thread took the last ones ask the main thread, once,
// to come (the capture pane's LinesQueued, capture_pane.h); it takes lines
// only when it has nothing more urgent to do. What the main thread does with
// the lines it took is the user interface's own (line_intake.h).
//
// One lock guards every queue's gathered lines and the list of queues that
// have some; it is held only to copy a run's lines in or to swap a batch out.
#pragma once

#include <windows.h>

#include <cstddef>

#include "port/line_batch.h"

namespace quorvel {

// The most a pane gathers before the main thread takes it, and the most all
// panes gather together; a capture thread that finds no room leaves its
// records in the ring until there is. The room lets a burst that the panes
// cannot show as fast as it passes (one-byte runs at 921600 baud on many
// ports) leave the rings for memory, instead of overflowing them.
constexpr size_t kMaxGatheredBytes = 32 * 1024 * 1024;
constexpr size_t kMaxAllGatheredBytes = 512 * 1024 * 1024;

struct PortMonitor;

struct PaneLineQueue {
    // The port whose pane takes the lines (its ListBox); set when the record
    // is made and never changed.
    PortMonitor* Port = nullptr;
    // Guarded by the lock: written by the capture thread, taken by the main
    // thread.
    LineBatch Gathered;
    bool Listed = false;               // guarded: in the list of queues with lines
    PaneLineQueue* NextListed = nullptr;  // guarded
};

// Capture thread: queues every line of the batch (a step's runs: each run's
// timing line, or none, and its run line), or none when the pane has
// gathered its most, all panes theirs, or memory cannot be had; false then.
bool QueueBatch(PaneLineQueue& queue, const LineBatch& lines);

// Main thread: takes up to capacity of the queues that have gathered lines,
// oldest first, into queues; those are no longer listed. Returns how many.
size_t TakeListedQueues(PaneLineQueue** queues, size_t capacity);

// Whether any queue has gathered lines that the main thread has not taken.
bool AnyListedQueue();

// Main thread: puts a queue back on the list (its lines were not all added).
void ListAgain(PaneLineQueue& queue);

// Main thread: puts the queues that a turn ran out of time for back at the
// head of the list, in their order, so that the next turn serves them before
// the ones this turn served.
void ListAheadAgain(PaneLineQueue* const* queues, size_t count);

// Main thread: swaps what the queue has gathered into taken (an empty
// batch, whose memory the queue keeps for the next lines). False when
// nothing had been gathered.
bool TakeGatheredLines(PaneLineQueue& queue, LineBatch& taken);

// Main thread, once the capture thread has ended: drops the queue from the
// list and gives its memory back.
void ForgetQueue(PaneLineQueue& queue);

}  // namespace quorvel
