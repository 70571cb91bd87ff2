// An owned buffer from new (std::nothrow), given back with delete[] when it
// goes out of scope unless it is released to a new owner first. No system
// call: pure code uses it too.
#pragma once

#include <cstddef>
#include <new>

namespace quorvel {

// A buffer of count elements from new (std::nothrow); empty when the memory
// could not be had.
template <typename T>
class OwnedBuffer {
public:
    OwnedBuffer() = default;
    explicit OwnedBuffer(size_t count) : data_(new (std::nothrow) T[count]) {}
    ~OwnedBuffer() { delete[] data_; }
    OwnedBuffer(const OwnedBuffer&) = delete;
    OwnedBuffer& operator=(const OwnedBuffer&) = delete;

    T* Get() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }
    T& operator[](size_t index) const { return data_[index]; }
    // Makes room for count elements unless it holds some already.
    bool Ensure(size_t count) {
        if (!data_) data_ = new (std::nothrow) T[count];
        return data_ != nullptr;
    }
    // Exchanges the buffers of two owners.
    void Swap(OwnedBuffer& other) {
        T* data = data_;
        data_ = other.data_;
        other.data_ = data;
    }
    // Hands the buffer to a new owner (who frees it with delete[]).
    T* Release() {
        T* data = data_;
        data_ = nullptr;
        return data;
    }

private:
    T* data_ = nullptr;
};

}  // namespace quorvel
