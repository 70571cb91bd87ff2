// The input and output sizes of the control device's sixteen requests, as a
// driver checks them before it looks at a request: a request of another
// size fails with ERROR_INVALID_PARAMETER. Pure; no device.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace emu {

// What a request's size must be.
struct SizeRule {
    enum class Kind {
        Exact,          // Bytes
        AtLeast,        // Bytes or more (the command write: the key and the text)
        Any,            // whatever the caller offers (the response read's output)
        PropertyReply,  // the size that the input header's 19 lengths ask for
    };
    Kind RuleKind;
    uint32_t Bytes;
};

struct RequestSizes {
    uint32_t Code;
    SizeRule Input;
    SizeRule Output;
};

// The rules of the sixteen requests, in code order.
const std::vector<RequestSizes>& RequestSizeTable();

// Whether the request's input and output sizes are those of its code; true
// for a code that is not a request of the device (its handler refuses it).
bool RequestSizesFit(uint32_t code, const std::vector<uint8_t>& input, DWORD outputSize);

// 80 plus, per property, its length and the spare byte behind it, of the
// 80-byte header at the start of input (64-bit: lengths may be anything).
uint64_t PropertyReplySize(const std::vector<uint8_t>& input);

}  // namespace emu
