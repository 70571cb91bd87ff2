#include "ui/window_layout.h"

#include "port/port_list.h"
#include "ui/pane_layout.h"
#include "ui/terminal_edits.h"

namespace quorvel {
namespace {

// Set while a LayoutHold lives. Main thread only.
bool g_layoutHeld = false;

}  // namespace

LayoutHold::LayoutHold(bool hold) : held_(hold && !g_layoutHeld) {
    if (held_) g_layoutHeld = true;
}

LayoutHold::~LayoutHold() {
    if (held_) g_layoutHeld = false;
}

bool LayoutPanes(HWND mainWindow) {
    if (!PortList || g_layoutHeld) return true;
    HWND command = CommandEdit(mainWindow);
    HWND response = ResponseEdit(mainWindow);
    RECT client, window, edit;
    if (!GetClientRect(mainWindow, &client) || !GetWindowRect(mainWindow, &window) ||
        !GetWindowRect(command, &edit)) {
        return false;
    }
    int width = client.right;
    int height = client.bottom;
    int editHeight = edit.bottom - edit.top;
    TerminalEditPlacement edits = PlaceTerminalEdits(width);
    if (!SetWindowPos(command, nullptr, 0, 0, edits.CommandWidth, editHeight,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS | SWP_SHOWWINDOW) ||
        !SetWindowPos(response, nullptr, edits.ResponseLeft, 0, edits.ResponseWidth, editHeight,
                      SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS | SWP_SHOWWINDOW)) {
        return false;
    }
    int y = editHeight;
    int asked = PaneHeightAsked(height, editHeight, PortCount);
    for (PortMonitor* port = PortList; port; port = port->Next) {
        HWND pane = nullptr;
        GetPane(*port, &pane, nullptr);
        RECT placed;
        if (!SetWindowPos(pane, nullptr, 0, y, width, asked,
                          SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS) ||
            !GetWindowRect(pane, &placed)) {
            return false;
        }
        y += placed.bottom - placed.top;
    }
    // The window is fitted to the panes' actual heights; the WM_SIZE this
    // sends lays out once more and changes nothing.
    return SetWindowPos(mainWindow, nullptr, 0, 0, window.right - window.left,
                        FittedWindowHeight(window.bottom - window.top, height, y),
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS) != FALSE;
}

}  // namespace quorvel
