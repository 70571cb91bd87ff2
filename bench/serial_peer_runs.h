// serial_peer's runs as the benchmark's tables of real lines use them: one
// run and its figures, and the paced pattern both ways across a tap.
#pragma once

#include <windows.h>

#include <string>

#include "support/serial_lines.h"

namespace bench {

// What serial_peer wrote: its numbers, or nothing when it did not finish.
struct PeerFigures {
    bool Done = false;
    double Values[3] = {};
};

// Runs serial_peer with the arguments and waits up to ms for its figures.
PeerFigures RunPeer(testsupport::LineLab& lab, const std::string& arguments, const std::string& out, DWORD ms);

// MB/s of a throughput run (its bytes over its seconds); 0 without one.
double Rate(const PeerFigures& figures);

// The pattern both ways between the lab's files app (the application's side,
// the pattern of seed 1) and device (seed 2), `bytes` each way, serial_peer
// given `pacing` as well (empty: as fast as the line takes them); its files
// are named NAME-app and NAME-dev. Whether both ends got theirs intact within
// waitMs. The device's side starts only once the application's has its line
// open: the tap passes no byte to a closed one.
bool BothWaysIntact(testsupport::LineLab& lab, const std::string& app, const std::string& device, long bytes,
                    const std::string& pacing, const std::string& name, DWORD waitMs);

// The same at 921600 baud in 64-byte runs; a lab that runs it more than once
// gives each run a name of its own.
bool PacedBothWaysIntact(testsupport::LineLab& lab, const std::string& app, const std::string& device, long bytes,
                         DWORD waitMs, const std::string& name = "paced");

}  // namespace bench
