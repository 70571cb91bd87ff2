#include "ui/terminal_text.h"

#include <cstring>

namespace quorvel {

CommandLine PrepareCommandLine(char* text, uint32_t length) {
    CommandLine line;
    if (length > 0 && text[length - 1] == '\n') text[--length] = 0;
    if (length >= 4 && std::memcmp(text, "+++\r", 4) == 0) {
        text[3] = 0;
        // The pluses alone, also when more text follows them (a pasted
        // "+++\r\nATH"): bytes that went out right behind them would break
        // the modem's guard time, the quiet it needs after the escape, and
        // the modem would take the escape for data.
        length = 3;
        line.Escape = true;
    }
    line.Length = length;
    return line;
}

void MaskLineBreaks(char* text) {
    for (; *text; ++text) {
        if (*text == '\r' || *text == '\n') *text = '.';
    }
}

void MaskZeroBytes(char* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] == 0) bytes[i] = '.';
    }
}

uint32_t TrimmedCharacters(uint32_t length, uint32_t fit) {
    if (fit >= length) return 0;
    return length < 2 * fit ? length - fit : fit;
}

void DropLeadingCharacters(char* text, size_t capacity, uint32_t drop) {
    size_t length = strnlen(text, capacity);
    if (drop > length) drop = static_cast<uint32_t>(length);
    std::memmove(text, text + drop, length - drop);
    std::memset(text + (length - drop), 0, capacity - (length - drop));
}

}  // namespace quorvel
