#include "tap/parmrk_decoder.h"

#include <cstring>

namespace tap {

void ParmrkDecoder::Decode(const uint8_t* bytes, size_t count, std::string* data, std::vector<LineMark>* marks) {
    for (size_t i = 0; i < count; ++i) {
        uint8_t byte = bytes[i];
        switch (state_) {
            case State::Plain: {
                // The bytes up to the next FF in one piece.
                const void* mark = std::memchr(bytes + i, 0xFF, count - i);
                size_t end = mark ? static_cast<size_t>(static_cast<const uint8_t*>(mark) - bytes) : count;
                data->append(reinterpret_cast<const char*>(bytes + i), end - i);
                i = end;
                if (mark) state_ = State::SawFF;
                break;
            }
            case State::SawFF:
                if (byte == 0x00) {
                    state_ = State::SawFF00;
                } else if (byte == 0x01) {
                    marks->push_back({LineMark::Error, data->size()});
                    state_ = State::Plain;
                } else {
                    // FF FF is a real FF; any other byte after FF cannot come
                    // from the kernel, and passes as it stands.
                    data->push_back('\xFF');
                    if (byte != 0xFF) data->push_back(static_cast<char>(byte));
                    state_ = State::Plain;
                }
                break;
            case State::SawFF00:
                if (byte == 0x00) {
                    marks->push_back({LineMark::Break, data->size()});
                } else {
                    marks->push_back({LineMark::Error, data->size()});
                    data->push_back(static_cast<char>(byte));
                }
                state_ = State::Plain;
                break;
        }
    }
}

}  // namespace tap
