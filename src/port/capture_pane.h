// What a capture thread does to its pane and to the main window: show the
// pane, flash the window's background, ask the main thread for the lines it
// queued, and report the port lost: the one table of calls from the port
// layer up to the window. The user interface provides it before any capture
// starts; the capture loop
// itself makes no window call, so that it runs, and is tested, with any pane
// behind it, or none (all calls then do nothing and no flash shows).
#pragma once

#include <windows.h>

#include <cstdint>

namespace quorvel {

struct PortMonitor;

struct CapturePane {
    // The main window's class background now: what a flash restores.
    HBRUSH (*Background)(HWND pane);
    // Makes the flash colours ready; false when they cannot be had.
    bool (*PrepareFlash)();
    // Shows the pane.
    void (*Show)(HWND pane);
    // Shows colour as the window's background, with the pane hidden; false
    // when the index shows nothing (0, or above the colours there are).
    bool (*Flash)(HWND pane, uint32_t colour);
    // Puts background back as the window's, and shows the pane when showPane.
    void (*Restore)(HWND pane, HBRUSH background, bool showPane);
    // The port is lost: asks the main window to remove it, then the pane to close.
    void (*Lost)(HWND pane, PortMonitor* port);
    // Lines were queued (pane_line_queue.h): asks the main thread to take
    // them. From any capture thread, at most once until they are taken.
    void (*LinesQueued)();
};

// Set by the main thread before any capture thread starts (null: the calls
// that do nothing); read by the capture threads.
void SetCapturePane(const CapturePane* pane);
const CapturePane& CurrentCapturePane();

}  // namespace quorvel
