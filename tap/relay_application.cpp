// The relay's application side: the pty's master in packet mode, whose
// reads bring the application's bytes or a status byte (its settings
// changed, it flushed its input or its output), the inotify watch that says
// when a program opens the side, and the terminal's command channel.
#include <sys/inotify.h>
#include <sys/ioctl.h>

#include <algorithm>

#include "tap/relay.h"

namespace tap {
namespace {

constexpr uint64_t kApplicationCheckUs = 250000;  // a closed application side is looked at this often

std::string Count(uint64_t bytes) { return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes"); }

}  // namespace

bool Relay::MayReadApplication() const {
    if (discard_ > 0 || devices_[0].Fd < 0) return true;  // read and dropped: never delivered late
    if (changes_.size() >= kMostChanges) return false;
    return toDevice_.Room() > 0;
}

// One read of the master: the application's bytes, as many as their queue
// takes (what a flush dropped is read and let go), or a status byte. A read
// with no room at all takes only a status, if one waits.
//
// A read that brings bytes proves that no status waited: whatever the
// master held just before it is older than any notice read later. While the
// queue holds the application back, that count is kept (waiting_), so that a
// change or a flush noticed then is placed behind those bytes.
void Relay::ReadApplication() {
    // While the kernel processes its input, a change of the application's
    // settings is found by looking; it comes before the bytes read next.
    if (processing_) LookAtSettings(false);
    size_t want = buffer_.size() - 1;
    if (discard_ > 0) want = std::min(want, discard_);
    else if (devices_[0].Fd >= 0) want = std::min(want, MayReadApplication() ? toDevice_.Room() : 0);
    size_t before = ops_.Unread(config_.Master);
    ssize_t count = ops_.Read(config_.Master, buffer_.data(), want + 1);
    if (count < 0 && CallWaits(errno)) return;
    if (count <= 0) return ApplicationClosed();  // EIO: no program has it open, nothing is left
    if (buffer_[0] != TIOCPKT_DATA) return PacketStatus(buffer_[0]);
    size_t bytes = static_cast<size_t>(count) - 1;
    waiting_ = before > bytes ? before - bytes : 0;
    taken_ += bytes;
    if (discard_ > 0) {
        discard_ -= std::min(discard_, bytes);
        return;
    }
    std::string_view data(reinterpret_cast<const char*>(buffer_.data()) + 1, bytes);
    if (devices_[0].Fd >= 0) {
        toDevice_.Append(data);
    } else {
        totals_.DroppedWhileAway += bytes;
    }
}

// The master reports what the application did, ahead of the bytes still
// queued behind it.
void Relay::PacketStatus(uint8_t status) {
    if (status & TIOCPKT_FLUSHREAD) InputFlushed();
    if (status & TIOCPKT_FLUSHWRITE) OutputFlushed();
    if (status & TIOCPKT_IOCTL) LookAtSettings(true);
}

// Reads a status that waits, and nothing else.
void Relay::ConsumeStatus() {
    if (ops_.Read(config_.Master, buffer_.data(), 1) == 1 && buffer_[0] != TIOCPKT_DATA) PacketStatus(buffer_[0]);
}

// The application dropped what it had received and not read: so does the
// tap with what waits for it, in its queue and in the device (recorded, as
// every byte that came, but not passed). The tap's own flush of a closed
// side is no one's.
void Relay::InputFlushed() {
    if (!applicationOpen_) return;
    uint64_t dropped = toApplication_.Clear();
    Device& device = devices_[0];
    if (device.Fd >= 0 && !channelOpen_) {
        ops_.FlushDeviceInput(device.Fd);
        dropped += DropDeviceInput(device);
    }
    Event("[input flushed: " + Count(dropped) + " dropped]");
}

// The application dropped what it had written and not yet sent: so does the
// tap with what waits for the device in its queue, in the device itself,
// and in the master as far as it held those bytes before the flush: what it
// held before the last read that brought bytes, or all of it while the full
// queue held the application back (its writes then fill the master, and
// what it writes after the flush finds no room there). What came since is
// kept.
void Relay::OutputFlushed() {
    Device& device = devices_[0];
    size_t unread = ops_.Unread(config_.Master);
    size_t older = toDevice_.Room() == 0 ? unread : std::min(waiting_, unread);
    uint64_t dropped = toDevice_.Clear() + older;
    discard_ += older;
    waiting_ = 0;
    if (device.Fd >= 0 && !channelOpen_) {
        dropped += ops_.Unsent(device.Fd);
        ops_.FlushDeviceOutput(device.Fd);
    }
    Event("[output flushed: " + Count(dropped) + " dropped]");
    ApplyDueChanges();  // the changes behind the dropped bytes are due now
}

void Relay::WriteApplication() {
    std::string_view front = toApplication_.Front();
    ssize_t written = ops_.Write(config_.Master, front.data(), front.size());
    if (written < 0 && CallWaits(errno)) return;
    if (written < 0) return ApplicationClosed();
    toApplication_.Consume(static_cast<size_t>(written));
}

// Reads every event that waits on the watch; whether one was an opening.
bool Relay::DrainWatch() {
    bool opened = false;
    ssize_t count;
    while ((count = ops_.Read(config_.ApplicationWatch, buffer_.data(), buffer_.size())) > 0) {
        for (size_t at = 0; at + sizeof(inotify_event) <= static_cast<size_t>(count);) {
            inotify_event event;
            std::copy_n(buffer_.data() + at, sizeof(event), reinterpret_cast<uint8_t*>(&event));
            opened = opened || (event.mask & IN_OPEN);
            at += sizeof(event) + event.len;
        }
    }
    return opened;
}

// The watch says that a program opened (or closed) the side. One that
// opened it counts as opened even when it has closed it since: its bytes
// are passed as it leaves, not handed on behind the next program's.
void Relay::WatchEvents() {
    if (DrainWatch() && !applicationOpen_) ApplicationOpened();
    CheckApplicationOpen();
}

void Relay::ApplicationOpened() {
    applicationOpen_ = true;
    Event("[application opened]");
    if (uint64_t kept = totals_.NotPassed - told_.NotPassed) {
        Event("[" + Count(kept) + " from the device not passed: no application had the line]");
        told_.NotPassed = totals_.NotPassed;
    }
}

// The application closed its side: what waited for it goes, and what it
// wrote still goes to the device, unless the terminal holds the line (then
// it would go who knows when: it is dropped and counted).
void Relay::ApplicationClosed() {
    if (!applicationOpen_) return;
    applicationOpen_ = false;
    totals_.NotPassed += toApplication_.Clear() + ops_.FlushApplication(config_.Master);
    // That flush leaves a status on the master; read now, it is no one's.
    ConsumeStatus();
    // The flush opened the side for a moment: those watch events are the tap's.
    DrainWatch();
    nextApplicationCheck_ = Now() + kApplicationCheckUs;
    Event("[application closed]");
    if (channelOpen_) {
        size_t unread = ops_.Unread(config_.Master);
        uint64_t dropped = toDevice_.Clear() + unread;
        discard_ += unread;
        totals_.DroppedWhileHeld += dropped;
        if (dropped) Event("[" + Count(dropped) + " from the application dropped: it closed while the terminal held the line]");
        ApplyDueChanges();
    }
}

void Relay::CheckApplicationOpen() {
    nextApplicationCheck_ = Now() + kApplicationCheckUs;
    if (!applicationOpen_ && ops_.ApplicationOpen(config_.Master)) ApplicationOpened();
}

// ---- The terminal ---------------------------------------------------------

void Relay::ReadCommands() {
    ssize_t count;
    while ((count = ops_.Read(config_.Commands, buffer_.data(), buffer_.size())) > 0) {
        bool wasBroken = commandReader_.Broken();
        commandReader_.Add(buffer_.data(), static_cast<size_t>(count));
        tapfeed::CommandHeader header;
        std::string payload;
        while (commandReader_.Next(&header, &payload)) {
            if (header.Kind == tapfeed::kOpen) {
                channelOpen_ = true;
            } else if (header.Kind == tapfeed::kClose) {
                channelOpen_ = false;
            } else {
                size_t taken = commands_.Append(payload);
                if (taken < payload.size()) {
                    Event("[" + Count(payload.size() - taken) + " of the terminal dropped: the line is full]");
                }
            }
        }
        if (commandReader_.Broken() && !wasBroken) {
            channelOpen_ = false;
            Event("[the terminal's channel broke: its commands are ignored]");
        }
    }
}

// The monitor that wrote the commands has gone: its hold on the line goes
// with it, and the next writer starts a fresh stream.
void Relay::CommandWriterGone() {
    if (channelOpen_) Event("[the terminal's channel closed: the monitor went]");
    channelOpen_ = false;
    commandReader_ = tapfeed::CommandReader();
    if (!ops_.ReopenReader(config_.Commands)) {
        Event("[the terminal's channel cannot be opened again: its commands are ignored]");
        config_.Commands = -1;
    }
}

}  // namespace tap
