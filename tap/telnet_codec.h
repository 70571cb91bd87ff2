// The Telnet side of a serial line served over the network with the COM
// port option (RFC 2217): what the client sends, and what it makes of what
// the server sends. Pure code: bytes in, bytes and messages out.
//
// The client asks for BINARY both ways and offers the COM-PORT option; it
// accepts SUPPRESS-GO-AHEAD and refuses every other option, and answers a
// request only when it changes an option's state, so that two peers never
// loop. Data bytes 0xFF go doubled (IAC IAC) and come undoubled; a command
// or a subnegotiation may be cut anywhere between two reads. A server that
// sends garbage (an unknown command, a subnegotiation without end) costs
// nothing but the garbage: the data around it passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tap {

namespace telnet {

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;

// The COM-PORT commands as the client sends them; the server's answers and
// notifications carry the same number plus kServerOffset.
enum ComPortCommand : uint8_t {
    kSetBaudrate = 1,
    kSetDatasize = 2,
    kSetParity = 3,
    kSetStopsize = 4,
    kSetControl = 5,
    kNotifyLinestate = 6,
    kNotifyModemstate = 7,
    kSetLinestateMask = 10,
    kSetModemstateMask = 11,
    kPurgeData = 12,
};
constexpr uint8_t kServerOffset = 100;

// SET-CONTROL values the client uses.
constexpr uint8_t kNoFlowControl = 1, kXonXoffFlowControl = 2, kHardwareFlowControl = 3;
constexpr uint8_t kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12;
// PURGE-DATA values: the server's buffer of what the device received, of
// what it has yet to send.
constexpr uint8_t kPurgeReceived = 1, kPurgeToSend = 2;
// NOTIFY-LINESTATE bits, and NOTIFY-MODEMSTATE's.
constexpr uint8_t kOverrunError = 0x02, kParityError = 0x04, kFramingError = 0x08, kBreakDetected = 0x10;
constexpr uint8_t kCarrierDetect = 0x80, kRingIndicator = 0x40, kDataSetReady = 0x20, kClearToSend = 0x10;

// What a subnegotiation may hold at most: a longer one is garbage, dropped
// there, and what follows it is data again (a server that never ends one
// would otherwise swallow the line).
constexpr size_t kMostSubnegotiation = 64;

}  // namespace telnet

// One COM-PORT message from the server: its command (the client's number,
// kServerOffset taken off) and its value, undoubled.
struct ComPortMessage {
    uint8_t Command = 0;
    std::string Value;
    bool operator==(const ComPortMessage&) const = default;
};

// What the server sent, decoded.
struct TelnetInput {
    std::string Data;                       // the line's bytes
    std::vector<ComPortMessage> Messages;   // answers and notifications, in order
    std::vector<size_t> MessageAt;          // where in Data each message came
    std::string Replies;                    // what the client must send back (negotiation)
};

class TelnetDecoder {
public:
    // The client's opening: BINARY asked for both ways, COM-PORT offered.
    std::string Opening();
    // Decodes count bytes into *input (appending), keeping its place for the
    // next call.
    void Decode(const uint8_t* bytes, size_t count, TelnetInput* input);
    // Whether the server has agreed to the COM-PORT option.
    bool ComPortAgreed() const { return ours_[telnet::kComPort]; }

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };
    size_t TakeData(const uint8_t* bytes, size_t from, size_t count, TelnetInput* input);
    bool Step(uint8_t byte, TelnetInput* input);
    void Negotiate(uint8_t verb, uint8_t option, std::string* replies);
    void EndSubnegotiation(TelnetInput* input);

    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::string sub_;           // the subnegotiation so far, its option first
    bool ours_[256] = {};       // options enabled on the client's side
    bool theirs_[256] = {};     // options enabled on the server's side
    bool askedOurs_[256] = {};  // WILL sent, not yet answered
    bool askedTheirs_[256] = {};  // DO sent, not yet answered
};

// Appends data with each 0xFF doubled: the line's bytes as they go on the
// wire, and as PARMRK marks a device's input.
void AppendDoubled(std::string_view data, std::string* out);

// One COM-PORT request: IAC SB COM-PORT command value IAC SE, with 0xFF in
// the value doubled.
std::string ComPortRequest(uint8_t command, std::string_view value);

// A speed as SET-BAUDRATE carries it: four bytes, most significant first;
// and back (0 for a value of another length).
std::string BaudValue(uint32_t baud);
uint32_t BaudOf(std::string_view value);

}  // namespace tap
