// How many panes one turn of the line intake repaints. A pane that takes
// lines keeps its redraw off and is owed a repaint every kRepaintPaceMs. A
// turn that comes some time after the one before repaints the part of those
// panes that fell due meanwhile (rounded up, and at least one), so that the
// repaints spread evenly over the turns however many panes are busy; a pane
// that has waited past kRepaintDeadlineMs all the same is repainted
// whatever the share. Pure arithmetic.
#pragma once

#include <cstdint>

namespace quorvel {

// A pane is repainted at most every kRepaintPaceMs, and at least every
// kRepaintDeadlineMs as far as the turns allow.
constexpr uint32_t kRepaintPaceMs = 100;
constexpr uint32_t kRepaintDeadlineMs = 120;

// The repaints that a turn owes panesOwed panes sinceLastTurnMs after the
// last turn: the pace's part of them that the time since covers.
inline uint32_t RepaintShare(uint32_t panesOwed, uint32_t sinceLastTurnMs) {
    uint64_t since = sinceLastTurnMs < kRepaintPaceMs ? sinceLastTurnMs : kRepaintPaceMs;
    uint64_t share = (static_cast<uint64_t>(panesOwed) * since + kRepaintPaceMs - 1) / kRepaintPaceMs;
    return share > 0 ? static_cast<uint32_t>(share) : 1;
}

}  // namespace quorvel
