#include "port/line_batch.h"

#include <cstring>
#include <new>

namespace quorvel {
namespace {

constexpr size_t kFirstCapacity = 4096;

size_t TextLength(const char* text) { return text ? std::strlen(text) + 1 : 0; }

}  // namespace

LineBatch::~LineBatch() { Release(); }

bool LineBatch::Reserve(size_t bytes) {
    if (bytes <= capacity_) return true;
    size_t capacity = capacity_ ? capacity_ : kFirstCapacity;
    while (capacity < bytes) capacity *= 2;
    auto* grown = new (std::nothrow) char[capacity];
    if (!grown) return false;
    if (bytes_) std::memcpy(grown, data_, bytes_);
    delete[] data_;
    data_ = grown;
    capacity_ = capacity;
    return true;
}

bool LineBatch::Append(const char* first, const char* second, size_t maxBytes) {
    size_t firstBytes = TextLength(first);
    size_t secondBytes = TextLength(second);
    size_t total = bytes_ + firstBytes + secondBytes;
    if (total > maxBytes || !Reserve(total)) return false;
    if (first) std::memcpy(data_ + bytes_, first, firstBytes);
    if (second) std::memcpy(data_ + bytes_ + firstBytes, second, secondBytes);
    bytes_ = total;
    lines_ += (first ? 1 : 0) + (second ? 1 : 0);
    return true;
}

void LineBatch::Clear() {
    bytes_ = 0;
    lines_ = 0;
}

void LineBatch::Swap(LineBatch& other) {
    char* data = data_;
    size_t bytes = bytes_, capacity = capacity_;
    uint32_t lines = lines_;
    data_ = other.data_;
    bytes_ = other.bytes_;
    capacity_ = other.capacity_;
    lines_ = other.lines_;
    other.data_ = data;
    other.bytes_ = bytes;
    other.capacity_ = capacity;
    other.lines_ = lines;
}

void LineBatch::Release() {
    delete[] data_;
    data_ = nullptr;
    bytes_ = capacity_ = 0;
    lines_ = 0;
}

}  // namespace quorvel
