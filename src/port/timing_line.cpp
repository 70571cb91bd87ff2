#include "port/timing_line.h"

#include <cstdio>

namespace quorvel {

void FormatTimingLine(uint64_t elapsedTicks, uint64_t frequency, char* text, size_t capacity) {
    uint64_t seconds = elapsedTicks / frequency;
    if (seconds == 0) {
        uint64_t milliseconds = elapsedTicks * 1000 / frequency;
        std::snprintf(text, capacity, "{%dms}", static_cast<int>(milliseconds));
        return;
    }
    uint64_t milliseconds = (elapsedTicks - seconds * frequency) * 1000 / frequency;
    std::snprintf(text, capacity, "{%d.%03ds}", static_cast<int>(seconds),
                  static_cast<int>(milliseconds));
}

}  // namespace quorvel
