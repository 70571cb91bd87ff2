// The stand-in driver's own thread: it runs timed events (scripted traffic,
// arrivals, late completions) in the order of their due times.
#pragma once

#include <windows.h>

#include <functional>

namespace emu {

// Runs action on the driver thread, with the driver lock held, after delayMs
// milliseconds. Events due at the same time run in the order scheduled.
void ScheduleAfter(DWORD delayMs, std::function<void()> action);

// Runs action on the driver thread, with the driver lock held, once the
// driver clock reaches dueMs (at once when it has already). Events given the
// same due time run in the order scheduled, whenever they were scheduled.
void ScheduleAt(double dueMs, std::function<void()> action);

// Drops every event not yet run.
void CancelScheduledEvents();

// Milliseconds on the driver's clock (monotonic, starts near 0).
double DriverClockMilliseconds();

}  // namespace emu
