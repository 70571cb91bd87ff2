// Conversion of the driver's UTF-16 texts into the system's ANSI code page,
// all or nothing: a text with one character that the code page cannot
// represent is not kept at all, never shown with replacement characters.
#pragma once

#include <cstdint>

namespace quorvel {

// Converts the UTF-16LE text of a blob (byteLength bytes at any alignment;
// up to its first zero character, and never past the blob) into a newly
// allocated ANSI text owned by target. Does nothing when target already
// holds a text, when source is null, or when the conversion is not whole.
void WideToAnsi(char*& target, const uint8_t* source, uint32_t byteLength);

}  // namespace quorvel
