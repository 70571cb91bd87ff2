// The records of a feed and of the tap's command channel as bytes: built
// whole for writing, and read back from a stream that arrives in any
// pieces. Pure code, used by the native programs on Linux and by the
// stand-in under Wine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "emulator/formats/tap_feed_records.h"

namespace tapfeed {

// A whole record: its header, then its payload; a feed record is for the
// feed's port `port` (0: a tap's one port).
std::string FeedRecord(FeedKind kind, uint64_t microseconds, std::string_view payload, uint16_t port = 0);
std::string CommandRecord(CommandKind kind, std::string_view payload);

// Collects a stream of records as its bytes come and hands out the whole
// ones in order. A record of an unknown kind or with more than kMostPayload
// bytes breaks the stream: nothing after it can be trusted, and Add says so
// from then on.
template <typename Header>
class RecordReader {
public:
    // Takes bytes of the stream; false once it is broken.
    bool Add(const void* bytes, size_t count);
    // The next whole record; false when none is complete yet.
    bool Next(Header* header, std::string* payload);
    bool Broken() const { return broken_; }

private:
    std::string pending_;  // bytes not yet handed out
    size_t start_ = 0;     // where the next record begins in pending_
    bool broken_ = false;
};

using FeedReader = RecordReader<FeedHeader>;
using CommandReader = RecordReader<CommandHeader>;

}  // namespace tapfeed
