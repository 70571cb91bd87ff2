// The item room that a pane's list box is asked to keep ahead of its lines.
//
// A list box keeps its lines in one array that it reallocates as it grows.
// Wine's grows it 16 items at a time, and the room that LB_INITSTORAGE
// reserves lasts only until the next add, which trims the array back to the
// lines it holds. The room so given back lies right behind the array, where
// the heap puts the next line's text; the array can then no longer grow in
// place and moves, and every pane that takes lines in turn leaves its old
// arrays behind as holes that the heap reuses only slowly: four busy panes
// held several kilobytes per line within a minute. So the intake asks for
// the room again after every add, while nothing else has been allocated,
// and the array grows where it lies; the room doubles whenever the lines
// reach it, so that the array moves only a few times in a pane's life.
// Pure arithmetic.
#pragma once

#include <cstdint>

namespace quorvel {

// The least room a pane is asked to keep, in lines.
constexpr uint32_t kFirstReservedLines = 1024;

// The room to ask for a pane that holds count lines and was last asked for
// reserved: the same while another line fits, otherwise doubled (at least
// kFirstReservedLines) until it does.
inline uint32_t PaneReservation(uint32_t count, uint32_t reserved) {
    if (count < reserved) return reserved;
    uint32_t next = reserved < kFirstReservedLines ? kFirstReservedLines : reserved;
    while (next <= count) next = next > UINT32_MAX / 2 ? UINT32_MAX : next * 2;
    return next;
}

}  // namespace quorvel
