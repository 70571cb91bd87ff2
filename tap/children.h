// The programs the tap starts beside itself: the monitor (scripts/tap-monitor.sh,
// which runs quorvel-emu.exe under the build's Wine prefix) and the
// simulated modem. Each runs in a process group of its own, so that the
// terminal's Ctrl+C reaches the tap alone and the tap ends them in order.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tap {

// How far below the line's programs the monitor runs (added to its nice
// value): on a machine short of CPU time the line gets it first, and the
// monitor catches up after from the feed that waits for it.
constexpr int kMonitorNice = 10;

// Starts program with its arguments; descriptor keep (or -1) becomes its
// descriptor 3, and niceness is added to its nice value. The child's pid, or -1.
pid_t StartChild(const std::string& program, const std::vector<std::string>& arguments, int keep = -1,
                 int niceness = 0);

// Ends the child: TERM to it (it ends what it started), then, once it has
// gone or waitMs have passed, KILL to whatever is left of its group; reaps it.
void EndChild(pid_t child, int waitMs);

// Whether the child (when there is one, > 0) has ended: then it is reaped
// and *child becomes -1.
bool Reaped(pid_t* child);

// The monitor's settings text for a tap port: its name, the tap's folder as
// Wine names it, and the friendly name with the settings text's escapes
// (a slash as \x2F: "/d" in it would ask for the uninstall; a control
// character as \xHH: a line end would end the statement).
std::string MonitorScenario(const std::string& portName, const std::string& windowsFolder,
                            const std::string& friendlyName);

// The text with each control character as \xHH, so that what a user gave
// (a newline in a path) neither ends a statement of the settings text nor
// splits a one-line error.
std::string WithControlsEscaped(const std::string& text);

}  // namespace tap
