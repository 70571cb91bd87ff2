// The Telnet side of a remote line, byte by byte: what the client makes of
// whatever a server sends, however the network cuts it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tap/telnet_codec.h"
#include "tap/byte_string.h"

namespace {

using namespace tap;
using namespace tap::telnet;

using tapwalk::Bytes;

TelnetInput DecodeInPieces(const std::string& wire, size_t piece) {
    TelnetDecoder decoder;
    decoder.Opening();
    TelnetInput input;
    for (size_t at = 0; at < wire.size(); at += piece) {
        std::string part = wire.substr(at, piece);
        decoder.Decode(reinterpret_cast<const uint8_t*>(part.data()), part.size(), &input);
    }
    return input;
}

// Each case is what a server sent after the client's opening, and what the
// client must make of it: the line's bytes, the COM-PORT messages (with
// where in the data each came), the replies. Each is decoded whole, a byte
// at a time, and in pieces of 2 and 3: every cut gives the same.
TEST(TelnetDecoder, EveryCutOfWhatAServerSendsGivesTheSameDataMessagesAndReplies) {
    struct Case {
        const char* What;
        std::string Wire;
        std::string Data;
        std::vector<ComPortMessage> Messages;
        std::vector<size_t> At;
        std::string Replies;
    };
    const Case cases[] = {
        {"IAC IAC is one data byte", Bytes({'a', kIac, kIac, 'b', kIac, kIac}), Bytes({'a', 0xFF, 'b', 0xFF}), {}, {}, ""},
        {"an answer in the data, its value undoubled",
         "x" + Bytes({kIac, kSb, kComPort, 101, 0, 0, 0, kIac, kIac, kIac, kSe}) + "y", "xy",
         {{kSetBaudrate, Bytes({0, 0, 0, 0xFF})}}, {1}, ""},
        {"notifications in order, each where it came",
         Bytes({kIac, kSb, kComPort, 107, 0x10, kIac, kSe}) + "OK" + Bytes({kIac, kSb, kComPort, 106, 0x80, kIac, kSe}), "OK",
         {{kNotifyModemstate, Bytes({0x10})}, {kNotifyLinestate, Bytes({0x80})}}, {0, 2}, ""},
        {"the server agrees to what was asked: no reply",
         Bytes({kIac, kDo, kBinary, kIac, kWill, kBinary, kIac, kDo, kComPort}), "", {}, {}, ""},
        {"what it offers: suppress-go-ahead taken, echo and the rest refused",
         Bytes({kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead, kIac, kWill, 1, kIac, kDo, 24, kIac, kDont, 1}),
         "", {}, {},
         Bytes({kIac, kDo, kSuppressGoAhead, kIac, kWill, kSuppressGoAhead, kIac, kDont, 1, kIac, kWont, 24})},
        {"a request for the state it has is not answered; a change is",
         Bytes({kIac, kDo, kBinary, kIac, kDo, kBinary, kIac, kDont, kBinary, kIac, kWont, 5}), "", {}, {},
         Bytes({kIac, kWont, kBinary})},
        {"garbage: unknown commands, a stray SE, another option's subnegotiation, a client's number",
         Bytes({'a', kIac, 1, 'b', kIac, kSe, 'c', kIac, kSb, 24, 0, 'x', kIac, kSe, kIac, kSb, kComPort, 5, 1, kIac, kSe, 'd'}),
         "abcd", {}, {}, ""},
        {"a subnegotiation never ended: dropped at the next command, which counts",
         Bytes({kIac, kSb, kComPort, 101, 1, kIac, kWill, 1, 'z'}), "z", {}, {}, Bytes({kIac, kDont, 1})},
        {"a subnegotiation too long: dropped with the byte too many, the line goes on after it",
         Bytes({kIac, kSb, kComPort, 101}) + std::string(kMostSubnegotiation - 1, 'q') + "line" + Bytes({kIac, kSe}),
         "line", {}, {}, ""},
    };
    for (const Case& each : cases) {
        for (size_t piece : {each.Wire.size(), size_t{1}, size_t{2}, size_t{3}}) {
            TelnetInput input = DecodeInPieces(each.Wire, std::max<size_t>(piece, 1));
            EXPECT_EQ(input.Data, each.Data) << each.What << ", pieces of " << piece;
            EXPECT_EQ(input.Messages, each.Messages) << each.What << ", pieces of " << piece;
            EXPECT_EQ(input.MessageAt, each.At) << each.What << ", pieces of " << piece;
            EXPECT_EQ(input.Replies, each.Replies) << each.What << ", pieces of " << piece;
        }
    }
}

// What the client sends: its opening, its data with 0xFF doubled, its
// requests with their values doubled, and a speed both ways; COM-PORT
// counts as agreed only once the server says DO.
TEST(TelnetDecoder, TheClientsOpeningDataAndRequestsAsTheyGoOnTheWire) {
    TelnetDecoder decoder;
    EXPECT_EQ(decoder.Opening(), Bytes({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort}));
    EXPECT_FALSE(decoder.ComPortAgreed());
    TelnetInput input;
    std::string agree = Bytes({kIac, kDo, kComPort});
    decoder.Decode(reinterpret_cast<const uint8_t*>(agree.data()), agree.size(), &input);
    EXPECT_TRUE(decoder.ComPortAgreed());
    std::string wire;
    AppendDoubled(Bytes({1, 0xFF, 2, 0xFF, 0xFF}), &wire);
    EXPECT_EQ(wire, Bytes({1, 0xFF, 0xFF, 2, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ComPortRequest(kSetBaudrate, BaudValue(255)), Bytes({kIac, kSb, kComPort, 1, 0, 0, 0, 0xFF, 0xFF, kIac, kSe}));
    EXPECT_EQ(BaudOf(BaudValue(921600)), 921600u);
    EXPECT_EQ(BaudOf("abc"), 0u);
}

}  // namespace
