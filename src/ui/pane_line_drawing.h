// Drawing a pane's lines. A pane is an owner-drawn list box that keeps its
// strings: the list box holds, scrolls and selects the lines as before, and
// the main window draws each visible line as a plain list box would, but
// only as far as the pane is wide, so that a repaint costs the pane's width
// however long its run lines are. Main thread only.
#pragma once

#include <windows.h>

namespace quorvel {

// Gives a pane the line height that a plain list box takes from its font
// (an owner-drawn list box keeps the height it had before its font was set).
void FitPaneLineHeight(HWND pane);

// Draws one line of a pane, or its focus, as the list box asks (WM_DRAWITEM).
void DrawPaneLine(const DRAWITEMSTRUCT& item);

}  // namespace quorvel
