// The relay's settings, which follow the application's. A change stands in
// the application's stream where it was noticed: the master reports it
// (TIOCPKT_IOCTL) ahead of the bytes still queued behind it, so whatever
// was read before is older, and so is what the master was seen to hold
// before the last read that brought bytes (waiting_); the rest of what is
// unread counts as newer (a pty cannot tell). The
// bytes before a change go out, the device sends them (ApplyWhenSent waits
// for its buffers and transmitter on a thread of its own), then it takes the
// change, then the bytes after it pass. Every change is applied and shown,
// in order; a refused one leaves the device as it was, and the next request
// of the application tries again.
//
// While the application asks the kernel to process its input (canonical
// lines, echo, CR/LF mapping, PARMRK ...), EXTPROC must be off, or the
// kernel would leave the input alone; the master then reports no changes,
// and the relay looks at the settings before each read of the application's
// bytes and every few milliseconds.
#include <algorithm>

#include "emulator/formats/serial_capture.h"
#include "tap/relay.h"

namespace tap {

const LineSettings& Relay::Target() const { return changes_.empty() ? applied_ : changes_.back().Settings; }

// `notice`: the master reported a change; each is a request of the
// application's, even one for the settings it has. Otherwise only what
// differs from the last look is a change.
void Relay::LookAtSettings(bool notice) {
    termios record{};
    if (!ops_.ApplicationTermios(config_.Master, &record)) return;
    bool processing = NeedsInputProcessing(record);
    // Setting or clearing EXTPROC is itself a change (and reported as one):
    // done only when it must be, it gives no loop.
    if (((record.c_lflag & EXTPROC) == 0) != processing) ops_.SetExtproc(config_.Master, !processing);
    processing_ = processing;
    LineSettings asked = SettingsFromTermios(record, config_.Settings.Format, Target().Baud);
    if (!notice && asked == seen_) return;
    seen_ = asked;
    if (asked == Target()) return;
    // A full queue stops the reading of bytes, so the changes behind it come
    // only as notices: the last one stands for those without bytes between.
    uint64_t at = taken_ + (notice ? std::min(waiting_, ops_.Unread(config_.Master)) : 0);
    if (changes_.size() >= kMostChanges && changes_.back().At == at) changes_.back().Settings = asked;
    else changes_.push_back({asked, at});
    ApplyDueChanges();
}

// What of the queue may go to the device before the next change.
size_t Relay::SendableToDevice() const {
    size_t size = toDevice_.Size();
    if (changes_.empty()) return size;
    uint64_t front = QueueFront();
    uint64_t at = changes_.front().At;
    return at <= front ? 0 : static_cast<size_t>(std::min<uint64_t>(size, at - front));
}

// Starts the first change whose bytes before it have all been written: it
// waits for the device to send them. Without a device it counts as applied,
// and the device gets it when it comes back.
void Relay::ApplyDueChanges() {
    while (applying_ < 0 && !changes_.empty() && changes_.front().At <= QueueFront()) {
        Device& device = devices_[0];
        if (device.Fd >= 0) {
            applying_ = ops_.ApplyWhenSent(device.Fd, changes_.front().Settings);
            if (applying_ >= 0) return;
            // No thread for the wait: the device takes it now, as it stands.
            if (!ops_.ApplySettings(device.Fd, changes_.front().Settings)) {
                Event("[settings refused: " + DescribeSettings(changes_.front().Settings).substr(1));
                changes_.pop_front();
                continue;
            }
        }
        AppliedSettings(changes_.front().Settings);
        changes_.pop_front();
    }
}

// The device has sent what came before the first change, and took it or not.
void Relay::SettingsOutcome() {
    uint64_t outcome = 0;
    bool read = ops_.Read(applying_, &outcome, sizeof(outcome)) == static_cast<ssize_t>(sizeof(outcome));
    ops_.Close(applying_);
    applying_ = -1;
    if (changes_.empty()) return;
    if (read && outcome == kSettingsApplied) {
        AppliedSettings(changes_.front().Settings);
    } else {
        Event("[settings refused: " + DescribeSettings(changes_.front().Settings).substr(1));
    }
    changes_.pop_front();
    ApplyDueChanges();
}

void Relay::AppliedSettings(const LineSettings& settings) {
    applied_ = settings;
    // A hang-up keeps the speed, and with it the capture's frame gap.
    if (config_.Capture && settings.Baud != 0) config_.Capture->SetSettings(settings);
    Event(DescribeSettings(settings));
}

}  // namespace tap
