// Text arithmetic of the command terminal: the typed line as it goes out,
// the response text's line breaks and its trimming to the response edit's
// width, and the steps of a notice's blink. Pure functions; no window.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

// A command line read from the command edit, ready to go out.
struct CommandLine {
    uint32_t Length = 0;  // bytes to send; 0: nothing is sent
    bool Escape = false;  // the line was "+++": it goes out without its CR
};

// Turns the command edit's text (length characters in text, terminated) into
// the bytes to send, in place: Enter's LF is dropped and its CR stays, so
// "AT\r\n" goes out as A, T, CR; "+++\r..." is the escape, sent as its three
// characters alone.
CommandLine PrepareCommandLine(char* text, uint32_t length);

// Replaces every CR and LF before the terminating zero by '.'.
void MaskLineBreaks(char* text);

// Replaces every zero among the count bytes just read into text by '.', so
// that the text goes on to the end of what was read, as it shows.
void MaskZeroBytes(char* bytes, uint32_t count);

// How many leading characters to drop from a text of length characters of
// which fit fit the edit: none while it fits; otherwise the smaller of
// length - fit and fit, so that at most one edit-width goes per step.
uint32_t TrimmedCharacters(uint32_t length, uint32_t fit);

// Drops the first drop characters of the terminated text in a buffer of
// capacity bytes and zeroes every byte behind the new end.
void DropLeadingCharacters(char* text, size_t capacity, uint32_t drop);

// The steps of a notice's blink: 1 to 64 blink, anything else does not.
constexpr int32_t kBlinkSteps = 64;
inline bool IsBlinkStep(int32_t step) { return step >= 1 && step <= kBlinkSteps; }
// Whether step shows the notice (bit 3 set) or an empty edit.
inline bool BlinkShowsNotice(int32_t step) { return (step & 8) != 0; }

}  // namespace quorvel
