#include "ui/missed_lines.h"

#include <cstdio>

namespace quorvel {

void FormatMissedLinesNotice(uint32_t missed, char* text, size_t size) {
    std::snprintf(text, size, "(%lu line%s could not be shown)", static_cast<unsigned long>(missed),
                  missed == 1 ? "" : "s");
}

}  // namespace quorvel
