#include "port/timing_line.h"

#include <cstring>

namespace quorvel {
namespace {

// Writes value in decimal at out (a minus sign first when negative), at
// least minDigits digits with leading zeros; returns the end. By hand: a
// capture thread writes a timing line for every run, and the C library's
// formatting cost more than cutting a one-byte run.
char* PutDecimal(char* out, int value, int minDigits) {
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    if (value < 0) *out++ = '-';
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count < minDigits) digits[count++] = '0';
    while (count > 0) *out++ = digits[--count];
    return out;
}

}  // namespace

void FormatTimingLine(uint64_t elapsedTicks, uint64_t frequency, char* text, size_t capacity) {
    if (capacity == 0) return;
    char line[kTimingLineCapacity];
    char* at = line;
    *at++ = '{';
    uint64_t seconds = elapsedTicks / frequency;
    if (seconds == 0) {
        at = PutDecimal(at, static_cast<int>(elapsedTicks * 1000 / frequency), 1);
        *at++ = 'm';
    } else {
        uint64_t milliseconds = (elapsedTicks - seconds * frequency) * 1000 / frequency;
        at = PutDecimal(at, static_cast<int>(seconds), 1);
        *at++ = '.';
        at = PutDecimal(at, static_cast<int>(milliseconds), 3);
    }
    *at++ = 's';
    *at++ = '}';
    size_t length = static_cast<size_t>(at - line);
    if (length > capacity - 1) length = capacity - 1;
    std::memcpy(text, line, length);
    text[length] = 0;
}

}  // namespace quorvel
