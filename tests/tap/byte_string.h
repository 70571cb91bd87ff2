// Bytes written as numbers, for the tests of what goes on a wire.
#pragma once

#include <initializer_list>
#include <string>

namespace tapwalk {

inline std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) bytes.push_back(static_cast<char>(value));
    return bytes;
}

}  // namespace tapwalk
