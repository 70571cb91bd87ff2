// A batch of pane lines: zero-terminated texts one after the other in one
// growing block, so that a capture thread can hand many lines to the main
// thread at once. Pure: no window, no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "system/owned_buffer.h"

namespace quorvel {

class LineBatch {
public:
    LineBatch() = default;
    LineBatch(const LineBatch&) = delete;
    LineBatch& operator=(const LineBatch&) = delete;

    // Appends the lines (a null one is skipped), each up to its first zero
    // byte, as a list box keeps it. False, with the batch unchanged, when
    // the batch would grow beyond maxBytes or memory cannot be had.
    bool Append(const char* first, const char* second, size_t maxBytes);

    const char* Data() const { return data_.Get(); }
    size_t Bytes() const { return bytes_; }
    uint32_t Lines() const { return lines_; }
    bool Empty() const { return bytes_ == 0; }
    size_t Capacity() const { return capacity_; }

    // Forgets the lines and keeps the memory for the next ones.
    void Clear();
    // Exchanges the contents of two batches.
    void Swap(LineBatch& other);
    // Gives the memory back.
    void Release();

private:
    bool Reserve(size_t bytes);

    OwnedBuffer<char> data_;
    size_t bytes_ = 0;
    size_t capacity_ = 0;
    uint32_t lines_ = 0;
};

}  // namespace quorvel
