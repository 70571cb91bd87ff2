#include "emulator/formats/tap_feed.h"

#include <cstring>

namespace tapfeed {
namespace {

bool KnownKind(const FeedHeader& header) { return header.Kind >= kHello && header.Kind <= kPortLeft; }
bool KnownKind(const CommandHeader& header) { return header.Kind >= kOpen && header.Kind <= kWrite; }

template <typename Header>
std::string Record(const Header& header, std::string_view payload) {
    std::string bytes(sizeof(Header) + payload.size(), '\0');
    std::memcpy(bytes.data(), &header, sizeof(Header));
    if (!payload.empty()) std::memcpy(bytes.data() + sizeof(Header), payload.data(), payload.size());
    return bytes;
}

}  // namespace

std::string FeedRecord(FeedKind kind, uint64_t microseconds, std::string_view payload, uint16_t port) {
    FeedHeader header{};
    header.Length = static_cast<uint32_t>(payload.size());
    header.Kind = kind;
    header.Port = port;
    header.Microseconds = microseconds;
    return Record(header, payload);
}

std::string CommandRecord(CommandKind kind, std::string_view payload) {
    CommandHeader header{};
    header.Length = static_cast<uint32_t>(payload.size());
    header.Kind = kind;
    return Record(header, payload);
}

template <typename Header>
bool RecordReader<Header>::Add(const void* bytes, size_t count) {
    if (broken_) return false;
    // What was handed out goes once it is most of the buffer.
    if (start_ > 0 && start_ * 2 >= pending_.size()) {
        pending_.erase(0, start_);
        start_ = 0;
    }
    pending_.append(static_cast<const char*>(bytes), count);
    return true;
}

template <typename Header>
bool RecordReader<Header>::Next(Header* header, std::string* payload) {
    if (broken_ || pending_.size() - start_ < sizeof(Header)) return false;
    std::memcpy(header, pending_.data() + start_, sizeof(Header));
    if (!KnownKind(*header) || header->Length > kMostPayload) {
        broken_ = true;
        return false;
    }
    if (pending_.size() - start_ - sizeof(Header) < header->Length) return false;
    payload->assign(pending_, start_ + sizeof(Header), header->Length);
    start_ += sizeof(Header) + header->Length;
    return true;
}

template class RecordReader<FeedHeader>;
template class RecordReader<CommandHeader>;

}  // namespace tapfeed
