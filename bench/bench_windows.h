// The windows of the benchmark, owned by its main thread: a visible main
// window and list boxes made like the program's port panes, and the message
// pumping that keeps the calls of other threads into them going.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "bench/machine_stalls.h"

namespace bench {

// Client size of the main window; the panes share the area below a strip as
// high as the terminal edits.
constexpr int kClientWidth = 800;
constexpr int kClientHeight = 600;
constexpr int kEditStrip = 24;

// A visible top-level window whose class has a background brush (the capture
// thread saves and restores it), or null.
HWND CreateMainWindow();
void DestroyMainWindow(HWND main);

// The program's own pane list box (its styles, font and control id), placed
// at the given rectangle of the main window. Hidden unless visible.
HWND CreatePane(HWND main, int x, int y, int width, int height, bool visible);

// Pane `index` of `count` stacked under the edit strip, as the layout does.
HWND CreateStackedPane(HWND main, int index, int count, bool visible);

// Serves this thread's messages (sent and posted) until done() holds or
// timeoutMs has passed; true when done() held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
void PumpFor(DWORD ms);

// Waits for handle while serving this thread's messages; true when it was
// signalled within timeoutMs.
bool WaitPumping(HANDLE handle, DWORD timeoutMs);

// A message posted to main now; TracerDelay gives the seconds it waited in
// the queue until main's thread dispatched it, or a negative value while it
// still waits. Measures how long posted messages (timers, input, commands)
// starve while other threads keep sending.
void PostTracer(HWND main);
double TracerDelay();

// A thread that posts a message to main every intervalMs while it runs;
// each one's wait in the queue until main's thread dispatched it is kept.
class PostProbe {
public:
    PostProbe(HWND main, DWORD intervalMs);
    ~PostProbe();
    PostProbe(const PostProbe&) = delete;
    PostProbe& operator=(const PostProbe&) = delete;
    // Stops posting, lets the last posts arrive and returns the waits in
    // seconds (a post still waiting then counts with its wait so far); with
    // spans, also each wait as a stretch of the system clock.
    std::vector<double> Stop(std::vector<WallSpan>* spans = nullptr);

private:
    static unsigned __stdcall Run(void* argument);
    HWND main_;
    DWORD intervalMs_;
    HANDLE stop_;
    HANDLE thread_ = nullptr;
};

// Runs action on the thread that owns main, from any thread, and returns
// when it has run. It goes as a sent message: while other threads keep
// sending to its windows, the owning thread stays inside PeekMessage serving
// them, and a sent message is the one thing that still reaches it there.
void RunOnWindowThread(HWND main, const std::function<void()>& action);

}  // namespace bench
