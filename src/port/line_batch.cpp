#include "port/line_batch.h"

#include <cstring>
#include <utility>

namespace quorvel {
namespace {

constexpr size_t kFirstCapacity = 4096;

size_t TextLength(const char* text) { return text ? std::strlen(text) + 1 : 0; }

}  // namespace

bool LineBatch::Reserve(size_t bytes) {
    if (bytes <= capacity_) return true;
    size_t capacity = capacity_ ? capacity_ : kFirstCapacity;
    while (capacity < bytes) capacity *= 2;
    OwnedBuffer<char> grown(capacity);
    if (!grown) return false;
    if (bytes_) std::memcpy(grown.Get(), data_.Get(), bytes_);
    data_.Swap(grown);  // the old block goes with grown
    capacity_ = capacity;
    return true;
}

bool LineBatch::Append(const char* first, const char* second, size_t maxBytes) {
    size_t firstBytes = TextLength(first);
    size_t secondBytes = TextLength(second);
    size_t total = bytes_ + firstBytes + secondBytes;
    if (total > maxBytes || !Reserve(total)) return false;
    if (first) std::memcpy(data_.Get() + bytes_, first, firstBytes);
    if (second) std::memcpy(data_.Get() + bytes_ + firstBytes, second, secondBytes);
    bytes_ = total;
    lines_ += (first ? 1 : 0) + (second ? 1 : 0);
    return true;
}

void LineBatch::Clear() {
    bytes_ = 0;
    lines_ = 0;
}

void LineBatch::Swap(LineBatch& other) {
    data_.Swap(other.data_);
    std::swap(bytes_, other.bytes_);
    std::swap(capacity_, other.capacity_);
    std::swap(lines_, other.lines_);
}

void LineBatch::Release() {
    OwnedBuffer<char>().Swap(data_);
    bytes_ = capacity_ = 0;
    lines_ = 0;
}

}  // namespace quorvel
