#include "emulator/kernel/request_sizes.h"

#include <cstring>

#include "wire/request_codes.h"

namespace emu {
namespace {

using namespace quorvel;
using Kind = SizeRule::Kind;

constexpr SizeRule Exactly(uint32_t bytes) { return {Kind::Exact, bytes}; }
constexpr SizeRule kNone = Exactly(0);
constexpr SizeRule kPortKey = Exactly(4);

bool Fits(const SizeRule& rule, uint64_t size, const std::vector<uint8_t>& input) {
    switch (rule.RuleKind) {
        case Kind::Exact: return size == rule.Bytes;
        case Kind::AtLeast: return size >= rule.Bytes;
        case Kind::Any: return true;
        case Kind::PropertyReply: return size == PropertyReplySize(input);
    }
    return false;
}

}  // namespace

// The sizes are the drivers' own, written out as numbers rather than taken
// from the program's records, so that a record of the wrong size in the
// program fails here instead of passing unseen.
const std::vector<RequestSizes>& RequestSizeTable() {
    static const std::vector<RequestSizes> table = {
        {IOCTL_LINE_GET_DRIVER_INFO, kNone, Exactly(20)},
        {IOCTL_LINE_SET_CONFIG, Exactly(520), kNone},
        {IOCTL_LINE_SET_PERSISTENT, Exactly(1), kNone},
        {IOCTL_LINE_SHUTDOWN, Exactly(1), kNone},
        {IOCTL_LINE_WAIT_PORT_ARRIVAL, kNone, Exactly(80)},
        {IOCTL_LINE_GET_PORT_PROPERTIES, Exactly(80), {Kind::PropertyReply, 0}},
        {IOCTL_LINE_ATTACH_CAPTURE, Exactly(12), kNone},
        {IOCTL_LINE_WAIT_DATA, kPortKey, kNone},
        {IOCTL_LINE_WAIT_SIGNAL, kPortKey, Exactly(4)},
        {IOCTL_LINE_WAIT_NOTICE, kPortKey, Exactly(400)},
        {IOCTL_LINE_DETACH_CAPTURE, kPortKey, kNone},
        {IOCTL_LINE_TOGGLE_PAUSE, Exactly(8), kNone},
        {IOCTL_LINE_SET_COMMAND_MODE, Exactly(28), kNone},
        {IOCTL_LINE_READ_RESPONSE, kPortKey, {Kind::Any, 0}},
        {IOCTL_LINE_WRITE_COMMAND, {Kind::AtLeast, 4}, kNone},
        {IOCTL_LINE_ESCAPE_FOLLOWUP, Exactly(8), kNone},
    };
    return table;
}

uint64_t PropertyReplySize(const std::vector<uint8_t>& input) {
    uint64_t size = 80;
    for (uint32_t i = 0; i < 19; ++i) {
        uint32_t length = 0;
        size_t offset = 4 + 4 * i;
        if (input.size() >= offset + 4) std::memcpy(&length, input.data() + offset, 4);
        size += static_cast<uint64_t>(length) + 1;
    }
    return size;
}

bool RequestSizesFit(uint32_t code, const std::vector<uint8_t>& input, DWORD outputSize) {
    for (const RequestSizes& sizes : RequestSizeTable()) {
        if (sizes.Code == code) return Fits(sizes.Input, input.size(), input) && Fits(sizes.Output, outputSize, input);
    }
    return true;
}

}  // namespace emu
