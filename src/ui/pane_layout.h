// Arithmetic of the main window's layout: the two terminal edits side by
// side along the top, the port panes stacked below them. Pure functions.
#pragma once

#include <cstdint>

namespace quorvel {

struct TerminalEditPlacement {
    int CommandWidth;   // the command edit, at the top-left corner
    int ResponseLeft;   // the response edit, right of it
    int ResponseWidth;
};

// The command edit takes half the client width (rounded down), the response
// edit the rest.
TerminalEditPlacement PlaceTerminalEdits(int clientWidth);

// The height asked of each of portCount panes below edits editHeight high in
// a client area clientHeight high: an equal share, the remainder dropped;
// 0 when the client area is lower than the edits or there is no port.
int PaneHeightAsked(int clientHeight, int editHeight, uint32_t portCount);

// The window height that makes the client area exactly contentHeight high.
int FittedWindowHeight(int windowHeight, int clientHeight, int contentHeight);

}  // namespace quorvel
