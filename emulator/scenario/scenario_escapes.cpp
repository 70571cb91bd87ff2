#include "emulator/scenario/scenario_escapes.h"

namespace emu::scenario {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool EscapeGoesOn(std::string_view text, size_t at) {
    return text[at] == '\\' && at + 1 < text.size() && text[at + 1] != '\n' && text[at + 1] != '\r';
}

bool DecodeEscapes(std::string_view text, std::string* bytes, std::string* error) {
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            bytes->push_back(c);
            continue;
        }
        if (i + 1 >= text.size()) {
            *error = "a backslash ends the text (write \\\\ for a backslash)";
            return false;
        }
        char e = text[++i];
        switch (e) {
            case 'r': bytes->push_back('\r'); break;
            case 'n': bytes->push_back('\n'); break;
            case 't': bytes->push_back('\t'); break;
            case '0': bytes->push_back('\0'); break;
            case 'e': bytes->push_back('\x1B'); break;
            case 's': bytes->push_back(' '); break;
            case '\\':
            case ';':
            case '"': bytes->push_back(e); break;
            case 'x': {
                int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
                int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    *error = "\\x needs two hexadecimal digits";
                    return false;
                }
                bytes->push_back(static_cast<char>(high * 16 + low));
                i += 2;
                break;
            }
            default:
                *error = "unknown escape " + Quoted(text.substr(i - 1, 2));
                return false;
        }
    }
    return true;
}

std::string Quoted(std::string_view text, size_t maxLength) {
    std::string shown = "\"";
    for (size_t i = 0; i < text.size() && i < maxLength; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        shown.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    if (text.size() > maxLength) shown += "...";
    shown.push_back('"');
    return shown;
}

}  // namespace emu::scenario
