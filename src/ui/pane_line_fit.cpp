#include "ui/pane_line_fit.h"

#include <algorithm>
#include <cstdint>

namespace quorvel {

size_t CharactersInRoom(std::string_view text, const CharacterWidths& widths, int tabWidth, int room) {
    int64_t x = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (x >= room) return i;
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t' && tabWidth > 0) {
            x = (x / tabWidth + 1) * tabWidth;
        } else {
            x += std::max(0, widths[c]);
        }
    }
    return text.size();
}

}  // namespace quorvel
