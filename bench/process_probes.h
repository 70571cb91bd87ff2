// Measurements on whole processes: how long Wine takes to show a bare
// window of a new process, how long the monitor takes to show three ports
// with traffic, and the commit charge of this process.
#pragma once

#include <windows.h>

#include <cstdint>

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

// The process's commit charge in bytes.
uint64_t CommittedBytes();

}  // namespace bench
