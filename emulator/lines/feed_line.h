// Ports fed by native programs: the stand-in's end of a feed
// (tap_feed_records.h), the FIFO through which quorvel-tap or quorvel-watch
// tells the monitor everything that passes and happens on the lines they
// see.
//
// quorvel-tap (a Linux program, tap/) owns one real line: the device, the
// application's pty, the relay between them; it also reads the command
// terminal's channel from a second FIFO. Its feed carries one port, which
// arrives with the feed's first record (the hello, which says whether it
// is a tap or a sniffer: a sniffer refuses the command channel).
// quorvel-watch watches every serial device of the machine; its feed
// carries many ports, each arriving with its properties and leaving again
// as devices are opened and closed, and its ports refuse the command
// channel (the watch never writes to a line). A feed line reads the feed on
// a thread of its own and hands each record to its port (feed_port.h); when
// the feed ends (the program has gone), every port of it leaves. The lines
// are never on this side's path: nothing here can hold them up.
#pragma once

#include "emulator/scenario/scenario.h"

namespace emu {

// Starts reading the feed of the tap or the watch whose folder the plan
// names (it ends with the running lines: running_lines.h).
void StartFeedLine(const scenario::Port& plan);

}  // namespace emu
