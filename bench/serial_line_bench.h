// quorvel-tap on real lines (pty pairs made by socat), measured against
// socat doing the same relay in the same run: the latency that the tap adds
// to a command and its answer, its throughput, and whether it feeds every
// byte at line rate while the monitor's pane shows them.
#pragma once

#include <windows.h>

namespace bench {

void SerialLineTable(HWND main, double pacedSeconds);

}  // namespace bench
