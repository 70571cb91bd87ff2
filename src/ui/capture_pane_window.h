// The capture threads' calls into their panes and the main window, as the
// window system makes them: ShowWindow on the pane, the main window's class
// background for a flash, and the posted removal and close of a lost port.
#pragma once

namespace quorvel {

// Makes the capture threads use the window calls (capture_pane.h). Main
// thread, before any capture thread starts.
void UseWindowCapturePane();

}  // namespace quorvel
