// The tap's side of the feed: records queued whole and written to the FIFO
// as the monitor takes them, never on the line's path. When the queue has
// no room for a record, the record is dropped and counted, and the next one
// that fits is preceded by an event that says how many went. One thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "emulator/formats/tap_feed_records.h"
#include "tap/byte_queue.h"
#include "tap/line_ops.h"

namespace tap {

// The event that tells of dropped feed records.
std::string DroppedNote(uint64_t dropped);

class FeedWriter {
public:
    explicit FeedWriter(size_t capacity) : out_(capacity) {}

    // Queues the record (for the feed's port `port`) whole, or drops it (a
    // payload over the records' limit goes in pieces). How many dropped
    // records (of any port) an event before it, for the same port, has just
    // told of (0: none).
    uint64_t Add(tapfeed::FeedKind kind, uint64_t microseconds, std::string_view payload, uint16_t port = 0);
    bool HasOutput() const { return !out_.Empty(); }
    // Writes what the FIFO takes now.
    void Flush(int fd, const LineOps& ops);
    uint64_t Dropped() const { return dropped_; }

private:
    bool Queue(tapfeed::FeedKind kind, uint64_t microseconds, std::string_view payload, uint16_t port);

    ByteQueue out_;
    uint64_t dropped_ = 0;     // every record dropped
    uint64_t unreported_ = 0;  // dropped since the last event that said so
};

}  // namespace tap
