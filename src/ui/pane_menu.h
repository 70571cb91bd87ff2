// A pane's own menu and keys, for taking its bytes out: the right-click menu
// "Copy" (the selected lines), "Copy all", "Copy as hex" (the selected lines
// with each run's bytes as hex pairs), and "Show as text" / "Show as hex",
// which of the two the pane's new run lines show, checked; Ctrl+C copies the
// selected lines and Ctrl+A selects every line. Lines are selected with the
// mouse, Shift and Ctrl as in any list. Main thread only.
#pragma once

#include <windows.h>

namespace quorvel {

// The menu's items, by the command that each gives.
enum PaneMenuCommand : UINT {
    kPaneCopy = 1,
    kPaneCopyAll,
    kPaneCopyAsHex,
    kPaneShowText,
    kPaneShowHex,
};

// The pane's menu: copy items enabled as there is something to copy, and
// the check on the way the pane shows new runs. The caller destroys it.
HMENU CreatePaneMenu(bool anySelected, bool anyLine, bool showsHex);

// Gives a new pane its menu and keys (the pane's window procedure is
// wrapped; the port comes from the pane's window user data when there is one).
void AttachPaneMenu(HWND pane);

// Carries out one of the menu's commands on the pane.
void RunPaneCommand(HWND pane, UINT command);

}  // namespace quorvel
