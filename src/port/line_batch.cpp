#include "port/line_batch.h"

#include <cstring>
#include <utility>

namespace quorvel {
namespace {

constexpr size_t kFirstCapacity = 4096;

// A line in the batch: its kind, its length (4 bytes, little-endian), its
// bytes and a zero byte.
constexpr size_t kLineHead = 5;

size_t Stored(const BatchLine* line) { return line ? kLineHead + line->Length + 1 : 0; }

}  // namespace

BatchLine TextLine(LineKind kind, const char* text) {
    return BatchLine{kind, text, static_cast<uint32_t>(std::strlen(text))};
}

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

void LineBatch::Put(const BatchLine& line) {
    char* at = data_.Get() + bytes_;
    at[0] = static_cast<char>(line.Kind);
    for (int i = 0; i < 4; ++i) at[1 + i] = static_cast<char>(line.Length >> (8 * i));
    if (line.Length) std::memcpy(at + kLineHead, line.Bytes, line.Length);
    at[kLineHead + line.Length] = 0;
    bytes_ += Stored(&line);
    ++lines_;
}

bool LineBatch::Append(const BatchLine* first, const BatchLine& second, size_t maxBytes) {
    size_t total = bytes_ + Stored(first) + Stored(&second);
    if (total > maxBytes || !Reserve(total)) return false;
    if (first) Put(*first);
    Put(second);
    return true;
}

size_t LineBatch::Read(size_t offset, BatchLine& line) const {
    const char* at = data_.Get() + offset;
    line.Kind = static_cast<LineKind>(at[0]);
    line.Length = 0;
    for (int i = 0; i < 4; ++i) line.Length |= uint32_t{static_cast<uint8_t>(at[1 + i])} << (8 * i);
    line.Bytes = at + kLineHead;
    return offset + Stored(&line);
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
