#include "port/pane_line_queue.h"

#include "port/capture_pane.h"
#include "system/scoped_handles.h"

namespace quorvel {
namespace {

// Guards every queue's gathered lines and the list below.
ProcessLock g_queueLock;

class QueueGuard : public ScopedLock<ProcessLock> {
public:
    QueueGuard() : ScopedLock<ProcessLock>(g_queueLock) {}
};

// Guarded by the lock: the queues with gathered lines, in the order listed,
// and the bytes that all queues have gathered.
PaneLineQueue* g_first = nullptr;
PaneLineQueue* g_last = nullptr;
size_t g_gatheredBytes = 0;

// With the lock held.
void List(PaneLineQueue& queue) {
    queue.Listed = true;
    queue.NextListed = nullptr;
    if (g_last) {
        g_last->NextListed = &queue;
    } else {
        g_first = &queue;
    }
    g_last = &queue;
}

// With the lock held: counts what the queue has just gathered and lists it;
// true when the intake is to be woken.
bool CountAndList(PaneLineQueue& queue, size_t before) {
    g_gatheredBytes += queue.Gathered.Bytes() - before;
    if (queue.Listed) return false;
    List(queue);
    return true;
}

}  // namespace

bool QueueBatch(PaneLineQueue& queue, const LineBatch& lines) {
    bool wake = false;
    {
        QueueGuard guard;
        size_t before = queue.Gathered.Bytes();
        if (g_gatheredBytes + lines.Bytes() > kMaxAllGatheredBytes) return false;
        if (!queue.Gathered.AppendBatch(lines, kMaxGatheredBytes)) return false;
        wake = CountAndList(queue, before);
    }
    if (wake) CurrentCapturePane().LinesQueued();
    return true;
}

size_t TakeListedQueues(PaneLineQueue** queues, size_t capacity) {
    QueueGuard guard;
    size_t taken = 0;
    while (g_first && taken < capacity) {
        PaneLineQueue* queue = g_first;
        g_first = queue->NextListed;
        queue->Listed = false;
        queue->NextListed = nullptr;
        queues[taken++] = queue;
    }
    if (!g_first) g_last = nullptr;
    return taken;
}

bool AnyListedQueue() {
    QueueGuard guard;
    return g_first != nullptr;
}

void ListAgain(PaneLineQueue& queue) {
    QueueGuard guard;
    if (!queue.Listed) List(queue);
}

void ListAheadAgain(PaneLineQueue* const* queues, size_t count) {
    QueueGuard guard;
    for (size_t i = count; i-- > 0;) {
        PaneLineQueue& queue = *queues[i];
        if (queue.Listed) continue;
        queue.Listed = true;
        queue.NextListed = g_first;
        g_first = &queue;
        if (!g_last) g_last = &queue;
    }
}

bool TakeGatheredLines(PaneLineQueue& queue, LineBatch& taken) {
    QueueGuard guard;
    taken.Swap(queue.Gathered);
    g_gatheredBytes -= taken.Bytes();
    return !taken.Empty();
}

void ForgetQueue(PaneLineQueue& queue) {
    QueueGuard guard;
    if (queue.Listed) {
        PaneLineQueue* previous = nullptr;
        for (PaneLineQueue* listed = g_first; listed; listed = listed->NextListed) {
            if (listed == &queue) {
                (previous ? previous->NextListed : g_first) = listed->NextListed;
                if (g_last == listed) g_last = previous;
                break;
            }
            previous = listed;
        }
        queue.Listed = false;
    }
    g_gatheredBytes -= queue.Gathered.Bytes();
    queue.Gathered.Release();
}

}  // namespace quorvel
