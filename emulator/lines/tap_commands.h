// The command terminal's channel to a tap's line: the records that the
// program's requests write into the tap's command FIFO (tap_feed_records.h),
// each with a bounded wait of its own, so that a tap that does not read
// them cannot hold up the program.
#pragma once

#include <windows.h>

#include <string>

#include "emulator/formats/tap_feed_records.h"

namespace emu {

// Writes one record into the command FIFO (opened for overlapped writes);
// false when it did not all go within a second.
bool SendCommand(HANDLE fifo, tapfeed::CommandKind kind, const std::string& payload);

}  // namespace emu
