// The property header and reply as a driver could send them: the reply size
// that the 19 lengths ask for, where each blob starts, and the all-or-nothing
// conversion of every text blob. Input: the 80-byte header, then the reply.
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "port/property_reply_layout.h"
#include "port/wide_to_ansi.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PortPropertyHeader header{};
    if (size < sizeof(header)) return 0;
    std::memcpy(&header, data, sizeof(header));
    uint32_t replySize = 0;
    if (!ComputePropertyReplySize(header, &replySize)) return 0;
    FUZZ_CHECK(replySize >= kPropertyBlobsOffset + kPropertyCount && replySize <= kMaxPropertyReplySize);
    if (size - sizeof(header) < replySize) return 0;
    const uint8_t* reply = data + sizeof(header);
    uint32_t offsets[kPropertyCount];
    LocatePropertyBlobs(header, offsets);
    for (uint32_t i = 0; i < kPropertyCount; ++i) {
        uint32_t length = header.Lengths[i];
        if (!length) {
            FUZZ_CHECK(offsets[i] == 0);
            continue;
        }
        FUZZ_CHECK(offsets[i] >= kPropertyBlobsOffset && uint64_t{offsets[i]} + length < replySize);
        if (length >= 4) (void)ReadUnalignedU32(reply + offsets[i]);
        char* text = nullptr;
        WideToAnsi(text, reply + offsets[i], length);
        if (text) {
            FUZZ_CHECK(std::strlen(text) <= length / 2);
            delete[] text;
        }
    }
    return 0;
}
