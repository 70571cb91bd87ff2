// Bytes as hex pairs: how a pane shows a run whose bytes the font cannot
// show (CR, LF, zero and the other control bytes, 0x80 to 0xFF), and how a
// run line is copied as hex. Pure functions.
#pragma once

#include <cstddef>
#include <string>

namespace quorvel {

// The most bytes that HexRunLine writes for a line of length bytes.
constexpr size_t HexRunLineCapacity(size_t length) { return length * 3 + 1; }

// Writes the line's first prefixLength bytes unchanged (a direction prefix,
// or 0), then each further byte as two upper-case hex digits, one space
// between pairs, and a terminating zero; returns the length written.
size_t HexRunLine(const char* line, size_t length, size_t prefixLength, char* out);

// The same as a string.
std::string HexRunText(const char* line, size_t length, size_t prefixLength);

}  // namespace quorvel
