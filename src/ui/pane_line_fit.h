// How much of a pane line can be seen: a pane shows each line from its
// start and never scrolls sideways, so whatever lies past its right edge is
// never seen. A run line can be megabytes long; drawing only its visible
// start keeps a repaint's cost to the pane's width. Pure functions.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quorvel {

// Advance widths in pixels of the characters 0 to 255 in the pane's font.
using CharacterWidths = std::array<int, 256>;

// The characters at the start of text that begin left of room pixels, with
// each character advancing by its width and a tab to the next multiple of
// tabWidth (no tab stops when tabWidth is not positive: a tab then advances
// by its own width). A character that begins inside the room is counted
// even when it ends past it, since its left part shows.
size_t CharactersInRoom(std::string_view text, const CharacterWidths& widths, int tabWidth, int room);

}  // namespace quorvel
