// Reads a device's input as the kernel marks it with PARMRK: a break comes
// as FF 00 00, a byte received with a framing or parity error as FF 00 x,
// and a real FF byte as FF FF; FF 01, which the kernel never gives, is an
// error whose byte is not known (a remote server's line state tells only
// that it happened). The decoder passes the data on (x too: the
// byte as it was received) and says where a mark stood. A mark may be cut
// between two reads: the decoder keeps its place. Pure code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tap {

struct LineMark {
    enum Kind { Break, Error };
    Kind What;
    size_t Offset;  // where in the decoded data it stood
};

class ParmrkDecoder {
public:
    // Decodes count bytes: the data is appended to *data, the marks to
    // *marks (their offsets into *data).
    void Decode(const uint8_t* bytes, size_t count, std::string* data, std::vector<LineMark>* marks);

private:
    enum class State { Plain, SawFF, SawFF00 };
    State state_ = State::Plain;
};

}  // namespace tap
