// The escapes of the scenario's byte strings and texts.
//
//   \r  carriage return      \n  line feed      \t  tab
//   \0  zero byte            \e  escape (27)    \s  space
//   \\  backslash            \;  semicolon      \"  double quote
//   \xHH  the byte with hexadecimal value HH
//
// Any other character stands for itself. A backslash before anything else,
// a \x without two hexadecimal digits and a lone backslash at the end are
// refused, so that a mistyped escape never turns silently into other bytes.
#pragma once

#include <string>
#include <string_view>

namespace emu::scenario {

// Whether the character at `at` is a backslash that takes the next one with
// it: anything but a line end. Cutting a text into statements keeps such a
// pair whole, so that "\;" is a semicolon byte, not a statement's end, and
// "\"" a quote byte, not a quote that the command line dropped.
bool EscapeGoesOn(std::string_view text, size_t at);

// Decodes text into bytes. On a bad escape returns false, leaves bytes
// undefined and says what is wrong in error.
bool DecodeEscapes(std::string_view text, std::string* bytes, std::string* error);

// A short printable rendering of user text for messages: at most maxLength
// characters, bytes outside printable ASCII shown as '?'.
std::string Quoted(std::string_view text, size_t maxLength = 24);

}  // namespace emu::scenario
