// The texts and states of the menu bar's three pause items, derived from a
// port's pause flags, and the label of a port's Description item. Pure
// functions; no window.
#pragma once

#include "port/port_monitor.h"

namespace quorvel {

struct PauseItemTexts {
    const char* Tx;    // item 1002
    const char* Rx;    // item 1003
    const char* Both;  // item 1004
    bool BothEnabled;  // 1004 is enabled only while both flags are equal
};

PauseItemTexts PauseTexts(bool txPaused, bool rxPaused);

// The texts that ID_PAUSE_BOTH leaves, all chosen by the new RX flag (the
// command starts from equal flags and leaves them equal).
PauseItemTexts PauseTextsAfterBoth(bool rxPaused);

// What a port's Description item shows: its friendly name, else its COM
// name, else "(unnamed port)".
const char* DescriptionLabel(const PortMonitor& port);

}  // namespace quorvel
