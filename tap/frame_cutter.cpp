#include "tap/frame_cutter.h"

namespace tap {

uint64_t IdleGapMicroseconds(const LineSettings& settings) {
    const LineFormat& format = settings.Format;
    uint64_t bits = 1 + format.DataBits + (format.Parity == 'N' ? 0 : 1) + format.StopBits;
    return settings.Baud ? bits * 3500000 / settings.Baud : 1000;
}

void FrameCutter::Add(uint8_t event, uint64_t microseconds, uint8_t lines, std::string_view bytes,
                      std::vector<Frame>* done) {
    if (open_ && (frame_.Event != event || microseconds > last_ + gap_)) Close(done);
    while (!bytes.empty()) {
        if (!open_) {
            frame_ = Frame{event, microseconds, lines, {}};
            open_ = true;
        }
        std::string_view piece = bytes.substr(0, mostBytes_ - frame_.Bytes.size());
        frame_.Bytes.append(piece);
        bytes.remove_prefix(piece.size());
        if (frame_.Bytes.size() == mostBytes_) Close(done);
    }
    last_ = microseconds;
}

void FrameCutter::Tick(uint64_t now, std::vector<Frame>* done) {
    if (open_ && now > last_ + gap_) Close(done);
}

void FrameCutter::Close(std::vector<Frame>* done) {
    if (!open_) return;
    done->push_back(std::move(frame_));
    frame_ = Frame{};
    open_ = false;
}

}  // namespace tap
