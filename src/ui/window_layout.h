// The main window's layout: the two terminal edits side by side along the
// top, the port panes stacked below them, newest first, and the window's
// height fitted to the panes. The arithmetic is pane_layout.h's. Main thread.
#pragma once

#include <windows.h>

namespace quorvel {

// Places the terminal edits and stacks the panes, then fits the window's
// height to the panes. False when a read or placement call failed; true at
// once when there is no port or the layout is held.
bool LayoutPanes(HWND mainWindow);

// While one lives (made with hold true), LayoutPanes does nothing: the last
// port's loss takes the menu bar down while the port is still linked, and
// the WM_SIZE that this sends must not fit the window to the leaving pane.
class LayoutHold {
public:
    explicit LayoutHold(bool hold);
    ~LayoutHold();
    LayoutHold(const LayoutHold&) = delete;
    LayoutHold& operator=(const LayoutHold&) = delete;

private:
    bool held_;
};

}  // namespace quorvel
