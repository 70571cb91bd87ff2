// The bytes that the real-line tests and the benchmark send: a repeatable
// stream, drawn from a seed, that never holds a zero byte (a pane's line
// shows its bytes up to the first zero). Header-only, so that the Linux-side
// peer and the Windows tests make the very same stream.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

class LinePattern {
public:
    explicit LinePattern(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {
        if (state_ == 0) state_ = 1;  // the one state that would stay 0
    }

    // The next byte: 1 to 255.
    char Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<char>(1 + state_ % 255);
    }

    std::string Take(size_t count) {
        std::string bytes(count, '\0');
        for (char& byte : bytes) byte = Next();
        return bytes;
    }

private:
    uint32_t state_;
};

}  // namespace testsupport
