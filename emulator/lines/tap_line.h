// Ports on real serial lines: the stand-in's end of quorvel-tap's feed.
//
// quorvel-tap (a Linux program, tap/) owns the line: the device, the
// application's pty, the relay between them. It writes everything that
// passes and happens on the line into its feed, a FIFO in its private
// folder, and reads the command terminal's channel from a second one. A tap
// line reads that feed on a thread of its own and turns it into its port's
// records: TX and RX bytes with the tap's own times (microseconds since the
// tap's start: one clock for every record of the port), each event as a
// line of its own (a direction code other than TX and RX), and the device's
// answers while the terminal holds the line into the response as well.
//
// The port arrives with the feed's first record (which says whether it is a
// tap or a sniffer: a sniffer refuses the command channel) and leaves when
// the feed ends (the tap has gone). The line is never on this side's path:
// nothing here can hold it up. Records that the port's ring has no room for
// wait in the feed until the program's capture thread has made room, so
// that a burst reaches the pane whole as long as the tap's feed queue holds
// it.
#pragma once

#include "emulator/scenario/scenario.h"

namespace emu {

// Starts reading the feed of the tap whose folder the plan names (it ends
// with the running lines: running_lines.h).
void StartTapLine(const scenario::Port& plan);

}  // namespace emu
