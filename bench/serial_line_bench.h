// quorvel-tap on real lines (pty pairs made by socat), measured against
// socat doing the same relay in the same run: the latency that the tap adds
// to a command and its answer, its throughput, and whether it feeds every
// byte at line rate while the monitor's pane shows them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "bench/capture_rig.h"

namespace bench {

void SerialLineTable(HWND main, double pacedSeconds);

// Waits until the monitor has shown all that came: the ring is empty and
// the pane has taken every line.
void WaitForIdleMonitor(const CaptureRig& rig);

// The pane's lines from line `from` on, once the monitor has been idle and
// the pane has taken no line for a second.
std::vector<std::string> SettledLinesFrom(const CaptureRig& rig, HWND pane, LRESULT from);

}  // namespace bench
