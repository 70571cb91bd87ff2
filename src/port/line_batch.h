// A batch of pane lines: the lines one after the other in one growing block,
// each with what kind of line it is and its whole length, so that a capture
// thread can hand many lines to the main thread at once. A run line keeps
// every byte of its run, zero bytes and what follows them included, though a
// list box shows it only up to its first zero. Pure: no window, no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "system/owned_buffer.h"

namespace quorvel {

enum class LineKind : uint8_t {
    Timing = 1,   // the time since the previous run
    Run = 2,      // a run's bytes behind its direction prefix
    BareRun = 3,  // a run's bytes without prefix (a direction code other than TX or RX)
    HexRun = 4,   // a run's bytes as hex pairs, behind its prefix if it has one
    Notice = 5,   // the intake's own word, as the count of lines a pane refused
};

// One line: Length bytes at Bytes, followed by a zero byte.
struct BatchLine {
    LineKind Kind = LineKind::Run;
    const char* Bytes = nullptr;
    uint32_t Length = 0;
};

// A line of kind from a zero-terminated text.
BatchLine TextLine(LineKind kind, const char* text);

class LineBatch {
public:
    LineBatch() = default;
    LineBatch(const LineBatch&) = delete;
    LineBatch& operator=(const LineBatch&) = delete;

    // Appends the lines (a null first is skipped), both or neither. False,
    // with the batch unchanged, when the batch would grow beyond maxBytes or
    // memory cannot be had.
    bool Append(const BatchLine* first, const BatchLine& second, size_t maxBytes);

    // Appends every line of other, or none: false as Append.
    bool AppendBatch(const LineBatch& other, size_t maxBytes);

    // The line at offset (0 for the first), and the offset of the next.
    size_t Read(size_t offset, BatchLine& line) const;

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
    void Put(const BatchLine& line);

    OwnedBuffer<char> data_;
    size_t bytes_ = 0;
    size_t capacity_ = 0;
    uint32_t lines_ = 0;
};

}  // namespace quorvel
