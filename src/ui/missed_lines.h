// The line that a pane shows where it could not show others.
//
// A list box refuses an add when it has no room left for the line (its
// memory ran out). The intake then drops that line and counts it, and every
// further line until the pane takes one again: retrying a refused line would
// hold up every line behind it, and with them the capture rings, for as long
// as the pane has no room. The first line that the pane takes after
// refusals is this notice, so that the user learns from the pane itself,
// where the gap is, how many lines are missing there. Pure text; no window.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

constexpr size_t kMissedLinesNoticeSize = 48;

// "(1 line could not be shown)", "(12 lines could not be shown)".
void FormatMissedLinesNotice(uint32_t missed, char* text, size_t size);

// One more line missed, without wrapping.
inline uint32_t CountMissedLine(uint32_t missed) { return missed == UINT32_MAX ? missed : missed + 1; }

}  // namespace quorvel
