// Measurements on whole processes: how long Wine takes to show a bare
// window of a new process, how long the monitor takes to show three ports
// with traffic, the resident memory of the monitor under traffic read from
// outside it, and the commit charge and resident memory of this process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The benchmark run as a child with this option shows a bare window until
// it is closed.
constexpr char kBareWindowOption[] = "--bare-window";
int RunBareWindow();

// Seconds from the start of a child process to its first visible window:
// the benchmark itself with kBareWindowOption. Negative when it failed.
double SecondsToBareWindow();

// Seconds from the start of quorvel-emu.exe (beside the benchmark's folder)
// with three modems whose traffic begins at once, to its window showing all
// three panes with their lines. Negative when it failed.
double SecondsToThreePortsWithTraffic();

// The monitor's resident memory and the lines its panes hold, read from
// outside the process.
struct ResidentSample {
    double Seconds = 0;      // since the panes first showed lines
    uint64_t Resident = 0;   // bytes
    uint64_t Lines = 0;      // all panes
};
struct ResidentRun {
    bool Complete = false;   // the program showed its panes and answered every sample
    ResidentSample Start;    // when every pane first showed lines
    std::vector<ResidentSample> Samples;
    // Resident bytes grown since the start per line held then more.
    static double GrownPerLine(const ResidentSample& start, const ResidentSample& at);
};

// Runs quorvel-emu.exe (beside the benchmark's folder) with the settings
// text, waits until `panes` panes show lines, and samples its resident
// memory and the lines its panes hold at each of the given seconds from
// then on.
ResidentRun ResidentUnderTraffic(const std::string& settings, int panes, const std::vector<double>& atSeconds);

// The process's commit charge in bytes.
uint64_t CommittedBytes();
// The process's resident memory (working set) in bytes.
uint64_t ResidentBytes();

}  // namespace bench
