// A bounded queue of bytes on their way from one end of the line to the
// other: what a read brought and its sink has not taken yet. The relay reads
// a source only while its sink's queue has room, so nothing is ever lost;
// a partial write takes only what went out. One thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tap {

class ByteQueue {
public:
    explicit ByteQueue(size_t capacity) : capacity_(capacity) {}

    size_t Size() const { return bytes_.size() - start_; }
    bool Empty() const { return Size() == 0; }
    size_t Room() const { return capacity_ - Size(); }
    // The bytes waiting, in order.
    std::string_view Front() const { return std::string_view(bytes_).substr(start_); }

    // Appends what fits; returns how many bytes that was.
    size_t Append(std::string_view bytes) {
        size_t taken = bytes.size() < Room() ? bytes.size() : Room();
        if (start_ > 0 && start_ >= bytes_.size() / 2) {
            bytes_.erase(0, start_);
            start_ = 0;
        }
        bytes_.append(bytes.data(), taken);
        return taken;
    }
    // The first count bytes have gone out.
    void Consume(size_t count) {
        start_ += count < Size() ? count : Size();
        if (start_ == bytes_.size()) Clear();
    }
    // Drops everything; returns how many bytes that was.
    size_t Clear() {
        size_t dropped = Size();
        bytes_.clear();
        start_ = 0;
        return dropped;
    }

private:
    size_t capacity_;
    std::string bytes_;
    size_t start_ = 0;
};

}  // namespace tap
