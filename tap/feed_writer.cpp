#include "tap/feed_writer.h"

#include <cerrno>
#include <string>

#include "emulator/formats/tap_feed.h"

namespace tap {

bool FeedWriter::Queue(tapfeed::FeedKind kind, uint64_t microseconds, std::string_view payload, uint16_t port) {
    if (out_.Room() < sizeof(tapfeed::FeedHeader) + payload.size()) return false;
    out_.Append(tapfeed::FeedRecord(kind, microseconds, payload, port));
    return true;
}

std::string DroppedNote(uint64_t dropped) { return "[" + std::to_string(dropped) + " feed records dropped]"; }

uint64_t FeedWriter::Add(tapfeed::FeedKind kind, uint64_t microseconds, std::string_view payload, uint16_t port) {
    uint64_t told = 0;
    do {
        std::string_view piece = payload.substr(0, tapfeed::kMostPayload);
        payload.remove_prefix(piece.size());
        // After drops, the record goes only with the event that says how
        // many went before it, or not at all.
        std::string note = unreported_ ? DroppedNote(unreported_) : "";
        size_t needed = sizeof(tapfeed::FeedHeader) * (note.empty() ? 1 : 2) + note.size() + piece.size();
        if (out_.Room() < needed) {
            ++dropped_;
            ++unreported_;
            continue;
        }
        if (!note.empty()) Queue(tapfeed::kEvent, microseconds, note, port);
        Queue(kind, microseconds, piece, port);
        told += unreported_;
        unreported_ = 0;
    } while (!payload.empty());
    return told;
}

void FeedWriter::Flush(int fd, const LineOps& ops) {
    while (!out_.Empty()) {
        std::string_view front = out_.Front();
        ssize_t written = ops.Write(fd, front.data(), front.size());
        if (written <= 0) return;  // full (EAGAIN) or gone: what is queued waits
        out_.Consume(static_cast<size_t>(written));
    }
}

}  // namespace tap
