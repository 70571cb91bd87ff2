#include "tap/telnet_codec.h"

#include <cstring>

namespace tap {

using namespace telnet;

namespace {

bool WeAccept(uint8_t option) { return option == kBinary || option == kSuppressGoAhead || option == kComPort; }
bool TheyMay(uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }

void AppendCommand(std::string* wire, uint8_t verb, uint8_t option) {
    wire->push_back(static_cast<char>(kIac));
    wire->push_back(static_cast<char>(verb));
    wire->push_back(static_cast<char>(option));
}

// One side of an option (RFC 1143's rules without its queue): a request that
// would change nothing is not answered; one that changes the state is
// answered unless it answers a request of ours.
void Follow(bool want, bool* enabled, bool* asked, uint8_t yes, uint8_t no, uint8_t option, std::string* replies) {
    bool wasAsked = *asked;
    *asked = false;
    if (*enabled == want) return;
    if (!want) {
        *enabled = false;
        if (!wasAsked) AppendCommand(replies, no, option);
        return;
    }
    *enabled = true;
    if (!wasAsked) AppendCommand(replies, yes, option);
}

}  // namespace

std::string TelnetDecoder::Opening() {
    std::string wire;
    AppendCommand(&wire, kWill, kBinary);
    AppendCommand(&wire, kDo, kBinary);
    AppendCommand(&wire, kWill, kComPort);
    askedOurs_[kBinary] = askedTheirs_[kBinary] = askedOurs_[kComPort] = true;
    return wire;
}

void TelnetDecoder::Negotiate(uint8_t verb, uint8_t option, std::string* replies) {
    switch (verb) {
        case kWill:
            if (!TheyMay(option)) return AppendCommand(replies, kDont, option);
            return Follow(true, &theirs_[option], &askedTheirs_[option], kDo, kDont, option, replies);
        case kWont:
            return Follow(false, &theirs_[option], &askedTheirs_[option], kDo, kDont, option, replies);
        case kDo:
            if (!WeAccept(option)) return AppendCommand(replies, kWont, option);
            return Follow(true, &ours_[option], &askedOurs_[option], kWill, kWont, option, replies);
        default:  // kDont
            return Follow(false, &ours_[option], &askedOurs_[option], kWill, kWont, option, replies);
    }
}

// A COM-PORT message from the server is kept; any other subnegotiation (of
// an option never agreed) is let go.
void TelnetDecoder::EndSubnegotiation(TelnetInput* input) {
    if (sub_.size() < 2 || static_cast<uint8_t>(sub_[0]) != kComPort) return;
    uint8_t command = static_cast<uint8_t>(sub_[1]);
    if (command < kServerOffset) return;
    input->Messages.push_back({static_cast<uint8_t>(command - kServerOffset), sub_.substr(2)});
    input->MessageAt.push_back(input->Data.size());
}

// The line's bytes up to the next IAC in one piece; where that IAC stands
// (then read as a command), or count.
size_t TelnetDecoder::TakeData(const uint8_t* bytes, size_t from, size_t count, TelnetInput* input) {
    const void* iac = std::memchr(bytes + from, kIac, count - from);
    size_t end = iac ? static_cast<size_t>(static_cast<const uint8_t*>(iac) - bytes) : count;
    input->Data.append(reinterpret_cast<const char*>(bytes + from), end - from);
    if (iac) state_ = State::Iac;
    return end;
}

// One byte of a command or a subnegotiation; false when it must be read
// again in the state that it led to.
bool TelnetDecoder::Step(uint8_t byte, TelnetInput* input) {
    switch (state_) {
        case State::Iac:
            state_ = State::Data;
            if (byte == kIac) {
                input->Data.push_back(static_cast<char>(kIac));
            } else if (byte >= kWill && byte <= kDont) {
                verb_ = byte;
                state_ = State::Verb;
            } else if (byte == kSb) {
                sub_.clear();
                state_ = State::Sub;
            }  // NOP, GA, a stray SE and the like: nothing to do
            return true;
        case State::Verb:
            Negotiate(verb_, byte, &input->Replies);
            state_ = State::Data;
            return true;
        case State::Sub:
            if (byte == kIac) state_ = State::SubIac;
            else if (sub_.size() < kMostSubnegotiation) sub_.push_back(static_cast<char>(byte));
            else state_ = State::Data;  // garbage: dropped, and the line goes on
            return true;
        default:  // State::SubIac
            if (byte == kIac) {
                sub_.push_back(static_cast<char>(kIac));
                state_ = sub_.size() <= kMostSubnegotiation ? State::Sub : State::Data;
                return true;
            }
            if (byte == kSe) {
                EndSubnegotiation(input);
                state_ = State::Data;
                return true;
            }
            // A command inside a subnegotiation: it was never ended. Dropped,
            // and the command is read as one.
            state_ = State::Iac;
            return false;
    }
}

void TelnetDecoder::Decode(const uint8_t* bytes, size_t count, TelnetInput* input) {
    for (size_t i = 0; i < count;) {
        if (state_ == State::Data) {
            i = TakeData(bytes, i, count, input);
            if (i < count) ++i;  // the IAC
        } else if (Step(bytes[i], input)) {
            ++i;
        }
    }
}

void AppendDoubled(std::string_view data, std::string* out) {
    while (!data.empty()) {
        size_t iac = data.find(static_cast<char>(kIac));
        size_t piece = iac == std::string_view::npos ? data.size() : iac + 1;
        out->append(data.data(), piece);
        if (iac != std::string_view::npos) out->push_back(static_cast<char>(kIac));
        data.remove_prefix(piece);
    }
}

std::string ComPortRequest(uint8_t command, std::string_view value) {
    std::string wire = {static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(kComPort),
                        static_cast<char>(command)};
    AppendDoubled(value, &wire);
    wire.push_back(static_cast<char>(kIac));
    wire.push_back(static_cast<char>(kSe));
    return wire;
}

std::string BaudValue(uint32_t baud) {
    return {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16), static_cast<char>(baud >> 8),
            static_cast<char>(baud)};
}

uint32_t BaudOf(std::string_view value) {
    if (value.size() != 4) return 0;
    uint32_t baud = 0;
    for (char byte : value) baud = (baud << 8) | static_cast<uint8_t>(byte);
    return baud;
}

}  // namespace tap
