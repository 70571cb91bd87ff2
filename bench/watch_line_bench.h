// quorvel-watch feeding this process's monitor while a program on a watched
// pty talks at 921600 baud both ways: whether the pane shows every byte,
// what was not seen, and the watch's own CPU time. Needs root (the watch's
// BPF); the table says so otherwise.
#pragma once

#include <windows.h>

namespace bench {

void WatchLineTable(HWND main, double pacedSeconds);

}  // namespace bench
