#include "watch/call_text.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "watch/watch_records.h"

namespace watch {
namespace {

// The kernel's termios flags (asm-generic/termbits.h), the same for 32-bit
// and 64-bit programs.
constexpr uint32_t kCbaud = 0010017, kBother = 0010000, kCbaudex = 0010000;
constexpr uint32_t kCsize = 0000060, kCstopb = 0000100, kParenb = 0000400, kParodd = 0001000;
constexpr uint32_t kCmspar = 010000000000, kCrtscts = 020000000000;
constexpr uint32_t kIxon = 0002000, kIxoff = 0010000;

uint32_t Word(std::string_view bytes, size_t at) {
    uint32_t value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// The speed of a baud code: B0 to B38400, then B57600 (CBAUDEX | 1) to B4000000.
uint32_t SpeedOfCode(uint32_t code) {
    static const uint32_t low[] = {0, 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400};
    static const uint32_t high[] = {0,      57600,   115200,  230400,  460800,  500000,  576000,  921600,
                                    1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
    return code & kCbaudex ? high[code & 017] : low[code & 017];
}

struct Named {
    uint32_t Request;
    const char* Name;
};

constexpr Named kRequests[] = {
    {0x5401, "TCGETS"},      {0x5402, "TCSETS"},      {0x5403, "TCSETSW"},     {0x5404, "TCSETSF"},
    {0x5409, "TCSBRK"},      {0x540A, "TCXONC"},      {0x540B, "TCFLSH"},      {0x540C, "TIOCEXCL"},
    {0x540D, "TIOCNXCL"},    {0x5411, "TIOCOUTQ"},    {0x5415, "TIOCMGET"},    {0x5416, "TIOCMBIS"},
    {0x5417, "TIOCMBIC"},    {0x5418, "TIOCMSET"},    {0x541B, "FIONREAD"},    {0x5425, "TCSBRKP"},
    {0x5427, "TIOCSBRK"},    {0x5428, "TIOCCBRK"},    {0x542E, "TIOCGRS485"},  {0x542F, "TIOCSRS485"},
    {0x545C, "TIOCMIWAIT"},  {0x545D, "TIOCGICOUNT"}, {0x802C542A, "TCGETS2"}, {0x402C542B, "TCSETS2"},
    {0x402C542C, "TCSETSW2"}, {0x402C542D, "TCSETSF2"},
};

std::string RequestName(uint32_t request) {
    for (const Named& named : kRequests) {
        if (named.Request == request) return named.Name;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "ioctl 0x%X", request);
    return text;
}

// The modem lines of a TIOCM* argument, by their usual names.
std::string LineNames(uint32_t bits) {
    static const Named lines[] = {{0x002, "DTR"}, {0x004, "RTS"}, {0x020, "CTS"}, {0x040, "DCD"},
                                  {0x080, "RI"},  {0x100, "DSR"}, {0x001, "LE"},  {0x008, "ST"},
                                  {0x010, "SR"},  {0x2000, "LOOP"}};
    std::string text;
    for (const Named& line : lines) {
        if (bits & line.Request) text += (text.empty() ? "" : " ") + std::string(line.Name);
    }
    return text.empty() ? "none" : text;
}

bool SetsSettings(uint32_t request) {
    return (request >= 0x5402 && request <= 0x5404) || (request >= 0x402C542B && request <= 0x402C542D);
}

std::string SettingsText(uint32_t request, int64_t result, std::string_view payload) {
    bool two = request >= 0x402C542B;
    TermiosView asked = ReadTermios(payload.substr(0, two ? 44 : 36), two);
    std::string wanted = DescribeTermios(asked);
    if (result < 0) return "[settings refused: " + wanted + ": " + ErrorName(result) + "]";
    std::string_view keptBytes = payload.size() >= WATCH_IOCTL_PAYLOAD ? payload.substr(WATCH_IOCTL_KEPT, 44) : "";
    if (keptBytes.empty() || Word(keptBytes, 8) == 0) return "[" + wanted + "]";  // nothing was read back
    std::string kept = DescribeTermios(ReadTermios(keptBytes, true));
    return kept == wanted ? "[" + wanted + "]" : "[asked " + wanted + ", kept " + kept + "]";
}

std::string Rs485Text(std::string_view payload) {
    uint32_t flags = Word(payload, 0);
    if (!(flags & 1)) return "[RS-485 off]";
    std::string text = "[RS-485 on";
    if (flags & 2) text += ", RTS on send";
    if (flags & 4) text += ", RTS after send";
    if (flags & 0x10) text += ", receiving while sending";
    return text + ", delays " + std::to_string(Word(payload, 4)) + "/" + std::to_string(Word(payload, 8)) + " ms]";
}

// The text of a call that the driver took; "" for one that is not shown.
std::string AcceptedText(uint32_t request, std::string_view payload) {
    uint32_t argument = Word(payload, 0);
    switch (request) {
        case 0x5415: return "[TIOCMGET: " + LineNames(argument) + "]";
        case 0x5416: return "[" + LineNames(argument) + " on]";
        case 0x5417: return "[" + LineNames(argument) + " off]";
        case 0x5418: return "[lines set: " + LineNames(argument) + "]";
        case 0x5409: return argument == 0 ? "[break]" : "";  // TCSBRK with an argument is tcdrain
        case 0x5425: return "[break]";
        case 0x5427: return "[break on]";
        case 0x5428: return "[break off]";
        case 0x540B: {
            static const char* what[] = {"[input flushed]", "[output flushed]", "[input and output flushed]"};
            return argument < 3 ? what[argument] : "";
        }
        case 0x540A: {
            static const char* what[] = {"[output suspended]", "[output resumed]", "[XOFF sent]", "[XON sent]"};
            return argument < 4 ? what[argument] : "";
        }
        case 0x540C: return "[exclusive]";
        case 0x540D: return "[not exclusive]";
        case 0x542F: return Rs485Text(payload);
    }
    return "";
}

}  // namespace

TermiosView ReadTermios(std::string_view bytes, bool withSpeeds) {
    TermiosView view;
    view.Input = Word(bytes, 0);
    view.Output = Word(bytes, 4);
    view.Control = Word(bytes, 8);
    view.Local = Word(bytes, 12);
    if (withSpeeds) {
        view.InputSpeed = Word(bytes, 36);
        view.OutputSpeed = Word(bytes, 40);
    }
    return view;
}

std::string DescribeTermios(const TermiosView& settings) {
    uint32_t code = settings.Control & kCbaud;
    uint32_t speed = code == kBother ? settings.OutputSpeed : SpeedOfCode(code);  // the kernel's rule
    static const char bits[] = {'5', '6', '7', '8'};
    char parity = 'N';
    if (settings.Control & kParenb) {
        bool odd = settings.Control & kParodd;
        parity = settings.Control & kCmspar ? (odd ? 'M' : 'S') : (odd ? 'O' : 'E');
    }
    std::string text = std::to_string(speed) + " " + bits[(settings.Control & kCsize) >> 4] + parity +
                       (settings.Control & kCstopb ? "2" : "1");
    if (settings.Control & kCrtscts) text += " RTS/CTS";
    if (settings.Input & (kIxon | kIxoff)) text += " XON/XOFF";
    return text;
}

std::string ErrorName(int64_t negativeError) {
    // The kernel's errors are -1 to -4095; anything else is shown as it came.
    if (negativeError < -4095 || negativeError >= 0) return "result " + std::to_string(negativeError);
    int number = static_cast<int>(-negativeError);
    const char* name = strerrorname_np(number);
    return name ? name : "error " + std::to_string(number);
}

std::string IoctlText(uint32_t request, int64_t result, std::string_view payload) {
    if (SetsSettings(request)) return SettingsText(request, result, payload);
    if (result < 0) {
        std::string text = "[" + RequestName(request);
        if (request >= 0x5416 && request <= 0x5418) text += " " + LineNames(Word(payload, 0));
        return text + " refused: " + ErrorName(result) + "]";
    }
    return AcceptedText(request, payload);
}

std::string FailureText(bool write, int64_t result) {
    int number = result < -4095 || result >= 0 ? 0 : static_cast<int>(-result);
    if (number == 11 || (number >= 512 && number <= 516)) return "";  // EAGAIN; restarted by the kernel
    return std::string("[") + (write ? "write" : "read") + " failed: " + ErrorName(result) + "]";
}

}  // namespace watch
