// quorvel-tap on real lines (pty pairs made by socat), measured against
// socat doing the same relay in the same run: the latency that the tap adds
// to a command and its answer, its throughput, and whether it feeds every
// byte at line rate while the monitor's pane shows them. The same again for
// a line on another machine, served by ser2net on loopback: over RFC 2217 to
// the tap, over plain TCP to socat.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
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

// What a pane showed of a run of the line pattern both ways: `bytes` of
// seed 1 from the application's side, as many of seed 2 from the device's.
struct PaneFigures {
    bool Intact = false;             // both ends got theirs
    double ShownShare = 0;           // bytes of both ways in the pane / bytes passed
    bool InOrder = false;            // each way's bytes in the pane are exactly those passed
    uint64_t RingDropped = 0;        // records that found the ring full
    std::vector<std::string> Lines;  // the pane's lines of the run, settled
};

// Once the monitor is idle, runs `pass` (whether both ends got theirs
// intact), then compares the port's pane with what passed.
PaneFigures PassedAndShown(const CaptureRig& rig, const BenchPort& port, long bytes,
                           const std::function<bool()>& pass);

}  // namespace bench
