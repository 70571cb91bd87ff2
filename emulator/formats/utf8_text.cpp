#include "emulator/formats/utf8_text.h"

#include <cstdint>

namespace tapfeed {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// What a lead byte announces: how many continuation bytes follow, the bits
// it carries, and the range its first continuation byte must lie in (which
// rules out overlong forms, surrogates and code points beyond U+10FFFF).
struct Lead {
    int Following = -1;  // -1: no lead byte of a valid sequence
    uint32_t Bits = 0;
    uint8_t Low = 0x80;
    uint8_t High = 0xBF;
};

Lead LeadOf(uint8_t byte) {
    Lead lead;
    if (byte >= 0xC2 && byte <= 0xDF) {
        lead = Lead{1, byte & 0x1Fu, 0x80, 0xBF};
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        lead = Lead{2, byte & 0x0Fu, static_cast<uint8_t>(byte == 0xE0 ? 0xA0 : 0x80),
                    static_cast<uint8_t>(byte == 0xED ? 0x9F : 0xBF)};
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        lead = Lead{3, byte & 0x07u, static_cast<uint8_t>(byte == 0xF0 ? 0x90 : 0x80),
                    static_cast<uint8_t>(byte == 0xF4 ? 0x8F : 0xBF)};
    }
    return lead;
}

void Append(std::u16string& out, uint32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        uint8_t byte = static_cast<uint8_t>(text[i++]);
        if (byte < 0x80) {
            out.push_back(byte);
            continue;
        }
        Lead lead = LeadOf(byte);
        uint32_t codePoint = lead.Bits;
        int taken = 0;
        for (; taken < lead.Following && i < text.size(); ++taken) {
            uint8_t next = static_cast<uint8_t>(text[i]);
            uint8_t low = taken == 0 ? lead.Low : 0x80, high = taken == 0 ? lead.High : 0xBF;
            if (next < low || next > high) break;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
            ++i;
        }
        if (lead.Following < 0 || taken < lead.Following) {
            out.push_back(kReplacement);
        } else {
            Append(out, codePoint);
        }
    }
    return out;
}

}  // namespace tapfeed
