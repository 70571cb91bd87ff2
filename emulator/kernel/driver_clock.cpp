#include "emulator/kernel/driver_clock.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "emulator/kernel/device_core.h"
#include "system/scoped_handles.h"

namespace emu {
namespace {

constexpr DWORD kLongestWaitMs = 60 * 60 * 1000;

struct TimedEvent {
    double DueMs;
    uint64_t Order;
    std::function<void()> Action;
};

struct ClockState {
    std::vector<TimedEvent> Events;  // guarded by the driver lock
    uint64_t NextOrder = 0;
    HANDLE Wake = nullptr;           // signalled when an earlier event arrives
    HANDLE Thread = nullptr;
};

ClockState& Clock() {
    static auto* state = new ClockState;  // never destroyed: the thread may run at exit
    return *state;
}

LARGE_INTEGER Counter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter;
}

LARGE_INTEGER Frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency;
}

DWORD WINAPI DriverThread(LPVOID) {
    ClockState& state = Clock();
    for (;;) {
        DWORD waitMs = INFINITE;
        {
            DriverGuard guard(DriverLock());
            double now = DriverClockMilliseconds();
            for (;;) {
                // Take the earliest due event, if any, and run it.
                size_t best = state.Events.size();
                for (size_t i = 0; i < state.Events.size(); ++i) {
                    const TimedEvent& e = state.Events[i];
                    if (best == state.Events.size() || e.DueMs < state.Events[best].DueMs ||
                        (e.DueMs == state.Events[best].DueMs && e.Order < state.Events[best].Order)) {
                        best = i;
                    }
                }
                if (best == state.Events.size()) break;
                if (state.Events[best].DueMs > now) {
                    // Capped, so that a far or infinite due time never
                    // overflows the wait: the thread just looks again.
                    double left = state.Events[best].DueMs - now;
                    waitMs = left < kLongestWaitMs ? static_cast<DWORD>(left) + 1 : kLongestWaitMs;
                    break;
                }
                std::function<void()> action = std::move(state.Events[best].Action);
                state.Events.erase(state.Events.begin() + static_cast<ptrdiff_t>(best));
                action();
                now = DriverClockMilliseconds();
            }
        }
        WaitForSingleObject(state.Wake, waitMs);
    }
}

}  // namespace

double DriverClockMilliseconds() {
    static const LARGE_INTEGER start = Counter();
    static const LARGE_INTEGER frequency = Frequency();
    return static_cast<double>(Counter().QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

void ScheduleAt(double dueMs, std::function<void()> action) {
    ClockState& state = Clock();
    DriverGuard guard(DriverLock());
    if (!state.Thread) {
        state.Wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        state.Thread = CreateThread(nullptr, 0, DriverThread, nullptr, 0, nullptr);
    }
    if (std::isnan(dueMs)) dueMs = 0;  // not a number: due at once
    state.Events.push_back(TimedEvent{dueMs, state.NextOrder++, std::move(action)});
    SetEvent(state.Wake);
}

void ScheduleAfter(DWORD delayMs, std::function<void()> action) {
    ScheduleAt(DriverClockMilliseconds() + delayMs, std::move(action));
}

void CancelScheduledEvents() {
    DriverGuard guard(DriverLock());
    Clock().Events.clear();
}

}  // namespace emu
