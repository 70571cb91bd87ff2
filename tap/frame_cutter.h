// Cuts a serial line's bytes into frames, as a serial protocol cuts its
// messages: a frame ends when the line has been idle for the gap (by
// default three and a half character times at the line's speed, Modbus
// RTU's rule), when the direction changes, or when it is full. Pure code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tap/line_settings.h"

namespace tap {

struct Frame {
    uint8_t Event = 0;           // serialcapture::kTxData or kRxData
    uint64_t Microseconds = 0;   // when its first byte passed
    uint8_t Lines = 0;           // the control lines then
    std::string Bytes;
};

// Three and a half character times at the settings' speed and frame, in
// microseconds.
uint64_t IdleGapMicroseconds(const LineSettings& settings);

class FrameCutter {
public:
    explicit FrameCutter(size_t mostBytes) : mostBytes_(mostBytes) {}

    void SetGap(uint64_t microseconds) { gap_ = microseconds; }
    // Bytes of a direction that passed at `microseconds`; the frames that
    // they ended are appended to *done.
    void Add(uint8_t event, uint64_t microseconds, uint8_t lines, std::string_view bytes, std::vector<Frame>* done);
    // Ends the open frame once the gap has passed by `now`.
    void Tick(uint64_t now, std::vector<Frame>* done);
    // Ends the open frame, whatever the time.
    void Close(std::vector<Frame>* done);
    // When the open frame's gap ends; 0 without one.
    uint64_t Due() const { return open_ ? last_ + gap_ + 1 : 0; }

private:
    size_t mostBytes_;
    uint64_t gap_ = 1000;
    bool open_ = false;
    Frame frame_;
    uint64_t last_ = 0;  // when the open frame's last bytes passed
};

}  // namespace tap
