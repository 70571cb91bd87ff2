#include "port/line_batch.h"

#include <cstring>
#include <utility>

namespace quorvel {
namespace {

constexpr size_t kFirstCapacity = 4096;

// A line in the batch: its kind, its length (seven bits a byte, the low ones
// first, the top bit set on every byte but the last: one byte for a line
// shorter than 128 bytes), its bytes and a zero byte.
size_t LengthBytes(uint32_t length) {
    size_t bytes = 1;
    while (length >= 0x80) {
        length >>= 7;
        ++bytes;
    }
    return bytes;
}

size_t Stored(const BatchLine* line) { return line ? 1 + LengthBytes(line->Length) + line->Length + 1 : 0; }

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
    *at++ = static_cast<char>(line.Kind);
    uint32_t length = line.Length;
    for (; length >= 0x80; length >>= 7) *at++ = static_cast<char>(0x80 | (length & 0x7F));
    *at++ = static_cast<char>(length);
    if (line.Length) std::memcpy(at, line.Bytes, line.Length);
    at[line.Length] = 0;
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
    line.Kind = static_cast<LineKind>(*at++);
    line.Length = 0;
    for (int shift = 0;; shift += 7) {
        auto byte = static_cast<uint8_t>(*at++);
        line.Length |= uint32_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) break;
    }
    line.Bytes = at;
    return offset + Stored(&line);
}

bool LineBatch::AppendBatch(const LineBatch& other, size_t maxBytes) {
    size_t total = bytes_ + other.bytes_;
    if (total > maxBytes || !Reserve(total)) return false;
    if (other.bytes_) std::memcpy(data_.Get() + bytes_, other.data_.Get(), other.bytes_);
    bytes_ = total;
    lines_ += other.lines_;
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
