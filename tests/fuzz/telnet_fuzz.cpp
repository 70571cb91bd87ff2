// What the tap makes of whatever a server on the network sends it: the
// first byte of the input says where the network cuts the rest. However it
// is cut, the decoder gives the same data, messages and replies; no data
// byte comes from nowhere; every reply is one whole three-byte command that
// refuses or agrees; no message is longer than a subnegotiation may be;
// and the data, sent back as the client sends it, decodes to itself.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "tap/telnet_codec.h"

namespace {

using namespace tap;

TelnetInput Decode(const uint8_t* bytes, size_t size, size_t piece) {
    TelnetDecoder decoder;
    decoder.Opening();
    TelnetInput input;
    for (size_t at = 0; at < size; at += piece) decoder.Decode(bytes + at, std::min(piece, size - at), &input);
    return input;
}

void CheckReplies(const std::string& replies) {
    FUZZ_CHECK(replies.size() % 3 == 0);
    for (size_t at = 0; at < replies.size(); at += 3) {
        FUZZ_CHECK(static_cast<uint8_t>(replies[at]) == telnet::kIac);
        uint8_t verb = static_cast<uint8_t>(replies[at + 1]);
        FUZZ_CHECK(verb >= telnet::kWill && verb <= telnet::kDont);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t piece = 1 + data[0] % 17;
    const uint8_t* wire = data + 1;
    size_t length = size - 1;
    TelnetInput whole = Decode(wire, length, length ? length : 1);
    TelnetInput cut = Decode(wire, length, piece);
    FUZZ_CHECK(whole.Data == cut.Data && whole.Messages == cut.Messages && whole.MessageAt == cut.MessageAt &&
               whole.Replies == cut.Replies);
    FUZZ_CHECK(whole.Data.size() <= length);
    FUZZ_CHECK(whole.Messages.size() == whole.MessageAt.size());
    for (size_t i = 0; i < whole.Messages.size(); ++i) {
        FUZZ_CHECK(whole.Messages[i].Value.size() + 2 <= telnet::kMostSubnegotiation);
        FUZZ_CHECK(whole.MessageAt[i] <= whole.Data.size());
        FUZZ_CHECK(i == 0 || whole.MessageAt[i - 1] <= whole.MessageAt[i]);
    }
    CheckReplies(whole.Replies);
    std::string again;
    AppendDoubled(whole.Data, &again);
    TelnetInput back = Decode(reinterpret_cast<const uint8_t*>(again.data()), again.size(), again.size() ? again.size() : 1);
    FUZZ_CHECK(back.Data == whole.Data && back.Messages.empty() && back.Replies.empty());
    return 0;
}
