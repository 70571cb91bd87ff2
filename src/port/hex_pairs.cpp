#include "port/hex_pairs.h"

#include <cstring>

namespace quorvel {

size_t HexRunLine(const char* line, size_t length, size_t prefixLength, char* out) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (prefixLength > length) prefixLength = length;
    std::memcpy(out, line, prefixLength);
    size_t written = prefixLength;
    for (size_t i = prefixLength; i < length; ++i) {
        if (i > prefixLength) out[written++] = ' ';
        auto byte = static_cast<unsigned char>(line[i]);
        out[written++] = kDigits[byte >> 4];
        out[written++] = kDigits[byte & 15];
    }
    out[written] = 0;
    return written;
}

std::string HexRunText(const char* line, size_t length, size_t prefixLength) {
    std::string text(HexRunLineCapacity(length), '\0');
    text.resize(HexRunLine(line, length, prefixLength, text.data()));
    return text;
}

}  // namespace quorvel
