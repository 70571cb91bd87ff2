// A replayed session: a port whose traffic and events are those of a pcap
// file that quorvel-tap wrote (or any file of link type 250), with their
// original timing or as fast as the monitor takes them, so that a session
// recorded in the field is looked at later in the panes. A file that is not
// pcap, of another link type, or cut short shows what was whole and then
// one line that says what is wrong and where; the port stays until the
// scenario ends.
#pragma once

#include "emulator/scenario/scenario.h"

namespace emu {

// Starts the replay of the file that the plan names (it ends with the
// running lines: running_lines.h).
void StartReplayLine(const scenario::Port& plan);

}  // namespace emu
