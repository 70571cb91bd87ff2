// The seven solid brushes of a colour flash, one set for the whole process.
//
// Entry i (1 to 7) has red 127 if bit 0 of i is set, green 127 if bit 1 is
// set and blue 127 if bit 2 is set. The set is created by the first capture
// thread and deleted only after every capture thread has ended, so that the
// main window's class background can never be left on a deleted brush.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quorvel {

constexpr uint32_t kFlashColours = 7;

// Creates the set unless it exists; false when a brush cannot be created
// (then no brush of the set is kept). Safe from several threads at once.
bool EnsureFlashBrushes();

// Brush of colour index 1 to 7; the set must exist.
HBRUSH FlashBrush(uint32_t colourIndex);

// The colour of entry i.
COLORREF FlashColour(uint32_t colourIndex);

// Deletes the set; only once no capture thread runs any more.
void DeleteFlashBrushes();

}  // namespace quorvel
