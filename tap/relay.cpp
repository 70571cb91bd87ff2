#include "tap/relay.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "emulator/formats/serial_capture.h"

namespace tap {
namespace {

constexpr size_t kQueueBytes = 65536;       // each direction's queue
constexpr size_t kChunk = 65536;            // the most one read takes
constexpr size_t kFeedBytes = 4 << 20;      // the feed's queue in the tap
constexpr uint64_t kReopenUs = 500000;      // a device away is tried again this often
constexpr uint64_t kLineCheckUs = 50000;    // modem lines are read this often
constexpr uint64_t kApplicationCheckUs = 250000;  // a closed application side is looked at this often
constexpr uint64_t kDrainCheckUs = 2000;    // a settings change waits for the device's output this often

// The modem lines as the kernel names them, and as the capture does; the
// pane shows CTS, DSR, DCD and RI as they change.
constexpr struct {
    int Kernel;
    uint8_t Capture;
} kModemLines[] = {{TIOCM_CTS, serialcapture::kCts}, {TIOCM_DSR, serialcapture::kDsr}, {TIOCM_CD, serialcapture::kDcd},
                   {TIOCM_RI, serialcapture::kRing}, {TIOCM_RTS, serialcapture::kRts}, {TIOCM_DTR, serialcapture::kDtr}};

uint8_t ControlLines(int kernelBits) {
    uint8_t lines = 0;
    for (const auto& line : kModemLines) {
        if (kernelBits & line.Kernel) lines |= line.Capture;
    }
    return lines;
}

bool Waits(int error) { return error == EAGAIN || error == EINTR; }

}  // namespace

Relay::Relay(const RelayConfig& config, const LineOps& ops)
    : config_(config), ops_(ops), start_(ops.NowMicroseconds()), feed_(kFeedBytes), toDevice_(kQueueBytes), toApplication_(kQueueBytes),
      commands_(kQueueBytes), applied_(config.Settings), buffer_(kChunk + 1) {
    devices_[0].Path = config.DevicePath;
    devices_[0].Fd = config.Device;
    if (config.Sniff) {
        deviceCount_ = 2;
        devices_[0].Name = "TX";
        devices_[0].Code = tapfeed::kTx;
        devices_[1].Name = "RX";
        devices_[1].Path = config.SecondPath;
        devices_[1].Fd = config.SecondDevice;
        devices_[0].ReadOnly = devices_[1].ReadOnly = true;
    }
    uint8_t mode = config.Sniff ? tapfeed::kModeSniff : tapfeed::kModeTap;
    feed_.Add(tapfeed::kHello, Now(), std::string_view(reinterpret_cast<const char*>(&mode), 1));
    AppliedSettings(applied_);
    for (int i = 0; i < deviceCount_; ++i) {
        if (devices_[i].Fd >= 0) DeviceOpened(devices_[i]);
    }
    if (!config.Sniff) CheckApplicationOpen();
}

Relay::~Relay() {
    for (Device& device : devices_) ops_.Close(device.Fd);
}

uint64_t Relay::Now() const { return ops_.NowMicroseconds() - start_; }

void Relay::Event(const std::string& text, uint8_t code) {
    uint64_t now = Now();
    uint64_t dropped = feed_.Add(tapfeed::kEvent, now, text);
    if (config_.Capture) {
        if (dropped) config_.Capture->Event(serialcapture::kDataLost, now, DroppedNote(dropped));
        config_.Capture->Event(code, now, text);
    }
}

void Relay::DeviceEvent(const Device& device, const std::string& what, uint8_t code) {
    Event("[" + (device.Name.empty() ? "" : device.Name + ": ") + what + "]", code);
}

// Bytes of the line: into the feed, and as data into the capture (the
// terminal's answers are what came from the device, too).
void Relay::Bytes(tapfeed::FeedKind kind, uint64_t now, std::string_view bytes) {
    uint64_t dropped = feed_.Add(kind, now, bytes);
    if (!config_.Capture) return;
    if (dropped) config_.Capture->Event(serialcapture::kDataLost, now, DroppedNote(dropped));
    config_.Capture->Data(kind == tapfeed::kTx ? serialcapture::kTxData : serialcapture::kRxData, now, bytes);
}

void Relay::AppliedSettings(const LineSettings& settings) {
    if (config_.Capture) config_.Capture->SetSettings(settings);
    Event(DescribeSettings(settings));
}

RelayCounts Relay::Counts() const {
    RelayCounts counts = totals_;
    counts.FeedDropped = feed_.Dropped();
    return counts;
}

// ---- One turn of the loop -------------------------------------------------

bool Relay::MayReadDevice(const Device& device) const {
    if (device.ReadOnly || channelOpen_ || !applicationOpen_) return true;
    return toApplication_.Room() > 0;
}

bool Relay::MayReadApplication() const {
    if (devices_[0].Fd < 0) return true;  // read and dropped: never delivered late
    if (hasPending_ && beforeChange_ == 0) return false;  // the rest waits for the new settings
    return toDevice_.Room() > 0;
}

// The terminal's bytes first (they are what it asked for), then, unless it
// holds the line, the application's.
ByteQueue* Relay::DeviceSource() {
    if (!commands_.Empty()) return &commands_;
    if (!channelOpen_ && !toDevice_.Empty()) return &toDevice_;
    return nullptr;
}

int Relay::TimerLimit() const {
    uint64_t now = Now();
    uint64_t next = std::numeric_limits<uint64_t>::max();
    for (int i = 0; i < deviceCount_; ++i) {
        const Device& device = devices_[i];
        if (device.Fd < 0) next = std::min(next, device.ReopenAt);
        else if (device.LinesKnown) next = std::min(next, nextLineCheck_);
    }
    if (!config_.Sniff && !applicationOpen_) next = std::min(next, nextApplicationCheck_);
    if (hasPending_ && beforeChange_ == 0 && toDevice_.Empty() && commands_.Empty()) {
        next = std::min(next, now + kDrainCheckUs);
    }
    if (config_.Capture && config_.Capture->Due()) next = std::min(next, config_.Capture->Due());
    if (next == std::numeric_limits<uint64_t>::max()) return -1;
    return next <= now ? 0 : static_cast<int>((next - now + 999) / 1000);
}

// Where each descriptor of one turn stands in the poll set (-1: left out).
struct Relay::PollSet {
    std::vector<pollfd> Fds;
    int Stop = -1, Feed = -1, Commands = -1, Watch = -1, Master = -1;
    int Devices[2] = {-1, -1};
    int Add(int fd, short events) {
        Fds.push_back({fd, events, 0});
        return static_cast<int>(Fds.size()) - 1;
    }
    short Revents(int at) const { return at >= 0 ? Fds[static_cast<size_t>(at)].revents : 0; }
};

Relay::PollSet Relay::BuildPollSet() {
    PollSet set;
    set.Stop = set.Add(config_.Stop, POLLIN);
    if (feed_.HasOutput()) set.Feed = set.Add(config_.Feed, POLLOUT);
    bool tapMode = !config_.Sniff;
    if (tapMode && config_.Commands >= 0) set.Commands = set.Add(config_.Commands, POLLIN);
    if (tapMode && !applicationOpen_ && config_.ApplicationWatch >= 0) {
        set.Watch = set.Add(config_.ApplicationWatch, POLLIN);
    }
    // A closed application side reports POLLHUP without end: it is left out
    // then, and so is one that can neither be read nor written now.
    if (tapMode && applicationOpen_ && (MayReadApplication() || !toApplication_.Empty())) {
        set.Master = set.Add(config_.Master, static_cast<short>((MayReadApplication() ? POLLIN : 0) |
                                                                (toApplication_.Empty() ? 0 : POLLOUT)));
    }
    for (int i = 0; i < deviceCount_; ++i) {
        Device& device = devices_[i];
        if (device.Fd < 0) continue;
        short events = MayReadDevice(device) ? POLLIN : 0;
        if (!device.ReadOnly && DeviceSource()) events |= POLLOUT;
        set.Devices[i] = set.Add(device.Fd, events);
    }
    return set;
}

bool Relay::Turn(int limitMs) {
    PollSet set = BuildPollSet();
    int timeout = TimerLimit();
    if (limitMs >= 0 && (timeout < 0 || limitMs < timeout)) timeout = limitMs;
    if (ops_.Poll(set.Fds.data(), set.Fds.size(), timeout) < 0) {
        for (pollfd& fd : set.Fds) fd.revents = 0;  // EINTR: the timers and the stop are looked at all the same
    }
    if (set.Revents(set.Stop)) return false;
    if (set.Revents(set.Feed) & POLLOUT) feed_.Flush(config_.Feed, ops_);
    // An application that opened its side before the poll returned gets the
    // device's bytes read in this turn.
    if (set.Revents(set.Watch) & POLLIN) {
        while (ops_.Read(config_.ApplicationWatch, buffer_.data(), buffer_.size()) > 0) {
        }
        CheckApplicationOpen();
    }
    ServeLine(set);
    if (set.Revents(set.Commands) & POLLIN) ReadCommands();
    ServeTimers();
    feed_.Flush(config_.Feed, ops_);
    return true;
}

// The line first: what can go out goes, what came is read, and what that
// read brought goes out at once.
void Relay::ServeLine(const PollSet& set) {
    constexpr short kEnded = POLLHUP | POLLERR | POLLNVAL;
    for (int i = 0; i < deviceCount_; ++i) {
        if (set.Revents(set.Devices[i]) & POLLOUT) WriteDevice(devices_[i]);
    }
    if (set.Revents(set.Master) & POLLOUT) WriteApplication();
    for (int i = 0; i < deviceCount_; ++i) {
        if (devices_[i].Fd >= 0 && (set.Revents(set.Devices[i]) & (POLLIN | kEnded))) ReadDevice(devices_[i]);
    }
    short master = set.Revents(set.Master);
    if (applicationOpen_ && (master & POLLHUP)) {
        // Gone: what it wrote before it closed still goes; nothing more
        // is written to it.
        totals_.NotPassed += toApplication_.Clear();
        if (ops_.Unread(config_.Master) == 0) ApplicationClosed();
        else if (MayReadApplication()) ReadApplication();
    } else if (applicationOpen_ && (master & (POLLIN | kEnded))) {
        ReadApplication();
    }
    PassQueued();
}

// What the queues hold goes out now, as far as the two ends take it.
void Relay::PassQueued() {
    if (config_.Sniff) return;
    if (devices_[0].Fd >= 0 && DeviceSource()) WriteDevice(devices_[0]);
    if (applicationOpen_ && !toApplication_.Empty()) WriteApplication();
}

void Relay::ServeTimers() {
    uint64_t now = Now();
    for (int i = 0; i < deviceCount_; ++i) {
        if (devices_[i].Fd < 0 && now >= devices_[i].ReopenAt) ReopenDevice(devices_[i]);
    }
    if (now >= nextLineCheck_) {
        for (int i = 0; i < deviceCount_; ++i) {
            if (devices_[i].Fd >= 0 && devices_[i].LinesKnown) WatchModemLines(devices_[i]);
        }
        nextLineCheck_ = now + kLineCheckUs;
    }
    if (!config_.Sniff && !applicationOpen_ && now >= nextApplicationCheck_) CheckApplicationOpen();
    if (!config_.Sniff) ApplyPendingSettings();
    if (config_.Capture) config_.Capture->Tick(now);
}

void Relay::Run() {
    while (Turn()) {
    }
}

void Relay::Finish() {
    PassQueued();
    feed_.Flush(config_.Feed, ops_);
}

// ---- The device -----------------------------------------------------------

void Relay::ReadDevice(Device& device) {
    size_t want = buffer_.size();
    if (!device.ReadOnly && !channelOpen_ && applicationOpen_) want = std::min(want, toApplication_.Room());
    if (want == 0) return;
    ssize_t count = ops_.Read(device.Fd, buffer_.data(), want);
    if (count < 0 && Waits(errno)) return;
    if (count <= 0) return DeviceGone(device);
    std::string data;
    std::vector<LineMark> marks;
    device.Marks.Decode(buffer_.data(), static_cast<size_t>(count), &data, &marks);
    PassDeviceData(device, data, marks);
}

// The data, cut where the marks stood, each mark an event in its place.
void Relay::PassDeviceData(Device& device, const std::string& data, const std::vector<LineMark>& marks) {
    uint64_t now = Now();
    auto pass = [&](std::string_view piece) {
        if (piece.empty()) return;
        if (device.ReadOnly) {
            Bytes(static_cast<tapfeed::FeedKind>(device.Code), now, piece);
        } else if (channelOpen_) {
            Bytes(tapfeed::kAnswer, now, piece);
        } else {
            Bytes(tapfeed::kRx, now, piece);
            if (applicationOpen_) {
                toApplication_.Append(piece);
            } else {
                totals_.NotPassed += piece.size();
            }
        }
    };
    size_t from = 0;
    for (size_t i = 0; i < marks.size(); ++i) {
        pass(std::string_view(data).substr(from, marks[i].Offset - from));
        from = marks[i].Offset;
        ReportMarks(device, marks, i, i + 1);
    }
    pass(std::string_view(data).substr(from));
    // An overrun leaves no mark in the data; only the counts tell. (The
    // frame and parity counts move on only as marks take them: a count may
    // run ahead of the marks that a later read brings.)
    ErrorCounts counts;
    if (device.CountsKnown && ops_.Counts(device.Fd, &counts) && counts.Overrun > device.Seen.Overrun) {
        DeviceEvent(device, "overrun: " + std::to_string(counts.Overrun - device.Seen.Overrun) + " lost",
                    serialcapture::kOverflow);
        device.Seen.Overrun = counts.Overrun;
    }
}

// A mark says that something happened; the counts say which error it was.
void Relay::ReportMarks(Device& device, const std::vector<LineMark>& marks, size_t from, size_t to) {
    ErrorCounts counts;
    bool counted = device.CountsKnown && ops_.Counts(device.Fd, &counts);
    for (size_t i = from; i < to; ++i) {
        if (marks[i].What == LineMark::Break) {
            DeviceEvent(device, "break", serialcapture::kBreak);
        } else if (counted && counts.Frame > device.Seen.Frame) {
            DeviceEvent(device, "framing error", serialcapture::kFramingError);
            ++device.Seen.Frame;
        } else if (counted && counts.Parity > device.Seen.Parity) {
            DeviceEvent(device, "parity error", serialcapture::kParityError);
            ++device.Seen.Parity;
        } else {
            DeviceEvent(device, "framing or parity error", serialcapture::kFramingError);
        }
    }
}

void Relay::WriteDevice(Device& device) {
    ByteQueue* source = DeviceSource();
    if (!source) return;
    std::string_view front = source->Front();
    ssize_t written = ops_.Write(device.Fd, front.data(), front.size());
    if (written < 0 && Waits(errno)) return;
    if (written < 0) return DeviceGone(device);
    if (written == 0) return;
    Bytes(tapfeed::kTx, Now(), front.substr(0, static_cast<size_t>(written)));
    source->Consume(static_cast<size_t>(written));
}

void Relay::DeviceGone(Device& device) {
    ops_.Close(device.Fd);
    device.Fd = -1;
    device.Marks = ParmrkDecoder();
    device.CountsKnown = false;
    device.LinesKnown = false;
    device.ReopenAt = Now() + kReopenUs;
    DeviceEvent(device, "device gone");
    if (!device.ReadOnly) totals_.DroppedWhileAway += toDevice_.Clear() + commands_.Clear();
}

void Relay::ReopenDevice(Device& device) {
    int fd = ops_.OpenDevice(device.Path.c_str(), device.ReadOnly);
    if (fd < 0) {
        device.ReopenAt = Now() + kReopenUs;
        return;
    }
    device.Fd = fd;
    DeviceEvent(device, "device back");
    if (!ops_.ApplySettings(fd, applied_)) {
        Event("[settings refused: " + DescribeSettings(applied_).substr(1));
    } else {
        AppliedSettings(applied_);
    }
    if (uint64_t dropped = totals_.DroppedWhileAway - told_.DroppedWhileAway) {
        Event("[" + std::to_string(dropped) + " bytes from the application dropped: the device was away]");
        told_.DroppedWhileAway = totals_.DroppedWhileAway;
    }
    DeviceOpened(device);
}

void Relay::DeviceOpened(Device& device) {
    device.CountsKnown = ops_.Counts(device.Fd, &device.Seen);
    device.LinesKnown = false;
    WatchModemLines(device);
}

void Relay::WatchModemLines(Device& device) {
    int bits = 0;
    if (!ops_.ModemLines(device.Fd, &bits)) {
        if (!device.NoLinesSaid) DeviceEvent(device, "no modem lines");
        device.NoLinesSaid = true;
        device.LinesKnown = false;
        return;
    }
    uint8_t lines = ControlLines(bits);
    if (config_.Capture && !device.ReadOnly) config_.Capture->SetLines(lines);
    // A sniffer's two devices name theirs: "[RX: CTS on]".
    auto named = [&](std::string text) {
        return device.Name.empty() ? text : "[" + device.Name + ": " + text.substr(1);
    };
    if (!device.LinesKnown) {
        Event(named(serialcapture::EventText(serialcapture::kStatusChange, lines, 0, false)));
    } else {
        // One event a line that changed, in a fixed order.
        uint8_t told = device.Lines;
        for (uint8_t bit : {serialcapture::kCts, serialcapture::kDsr, serialcapture::kDcd, serialcapture::kRing}) {
            if (!((lines ^ told) & bit)) continue;
            uint8_t next = static_cast<uint8_t>(told ^ bit);
            if (config_.Capture && !device.ReadOnly) config_.Capture->SetLines(next);
            Event(named(serialcapture::EventText(serialcapture::kStatusChange, next, told, true)));
            told = next;
        }
        if (config_.Capture && !device.ReadOnly) config_.Capture->SetLines(lines);
    }
    device.Lines = lines;
    device.LinesKnown = true;
}

// ---- The application's side ------------------------------------------------

void Relay::ReadApplication() {
    size_t want = buffer_.size() - 1;
    if (devices_[0].Fd >= 0) want = std::min(want, toDevice_.Room());
    if (hasPending_) want = std::min(want, beforeChange_);
    ssize_t count = ops_.Read(config_.Master, buffer_.data(), want + 1);
    if (count < 0 && Waits(errno)) return;
    if (count <= 0) return ApplicationClosed();  // EIO: no program has it open any more
    if (buffer_[0] != TIOCPKT_DATA) {
        if (buffer_[0] & TIOCPKT_IOCTL) SettingsNotice();
        return;
    }
    size_t bytes = static_cast<size_t>(count) - 1;
    if (hasPending_) beforeChange_ -= std::min(beforeChange_, bytes);
    std::string_view data(reinterpret_cast<const char*>(buffer_.data()) + 1, bytes);
    if (devices_[0].Fd >= 0) {
        toDevice_.Append(data);
    } else {
        totals_.DroppedWhileAway += bytes;
    }
}

void Relay::WriteApplication() {
    std::string_view front = toApplication_.Front();
    ssize_t written = ops_.Write(config_.Master, front.data(), front.size());
    if (written < 0 && Waits(errno)) return;
    if (written < 0) return ApplicationClosed();
    toApplication_.Consume(static_cast<size_t>(written));
}

// The application changed its settings. What it wrote before the change is
// still to be read (it is already there); the change waits behind it.
void Relay::SettingsNotice() {
    termios record{};
    if (!ops_.ApplicationTermios(config_.Master, &record)) return;
    // Its own change may have cleared EXTPROC; without it the next change
    // would go unreported. Set only when missing: setting it is a change too.
    if (!(record.c_lflag & EXTPROC)) ops_.KeepExtproc(config_.Master);
    const LineSettings& target = hasPending_ ? pending_ : applied_;
    LineSettings asked = SettingsFromTermios(record, config_.Settings.Format, target.Baud);
    if (asked == target) return;
    pending_ = asked;
    if (!hasPending_) beforeChange_ = ops_.Unread(config_.Master);
    hasPending_ = true;
}

void Relay::ApplyPendingSettings() {
    if (!hasPending_ || beforeChange_ > 0 || !toDevice_.Empty() || !commands_.Empty()) return;
    Device& device = devices_[0];
    if (device.Fd >= 0) {
        if (ops_.Unsent(device.Fd) > 0) return;  // looked at again shortly
        if (!ops_.ApplySettings(device.Fd, pending_)) {
            Event("[settings refused: " + DescribeSettings(pending_).substr(1));
            applied_ = pending_;
            hasPending_ = false;
            return;
        }
    }
    applied_ = pending_;
    hasPending_ = false;
    AppliedSettings(applied_);
}

void Relay::ApplicationClosed() {
    if (!applicationOpen_) return;
    applicationOpen_ = false;
    totals_.NotPassed += toApplication_.Clear() + ops_.FlushApplication(config_.Master);
    nextApplicationCheck_ = Now() + kApplicationCheckUs;
    Event("[application closed]");
}

void Relay::CheckApplicationOpen() {
    nextApplicationCheck_ = Now() + kApplicationCheckUs;
    if (applicationOpen_ || !ops_.ApplicationOpen(config_.Master)) return;
    applicationOpen_ = true;
    Event("[application opened]");
    if (uint64_t kept = totals_.NotPassed - told_.NotPassed) {
        Event("[" + std::to_string(kept) + " bytes from the device not passed: no application had the line]");
        told_.NotPassed = totals_.NotPassed;
    }
}

// ---- The terminal ---------------------------------------------------------

void Relay::ReadCommands() {
    ssize_t count = ops_.Read(config_.Commands, buffer_.data(), buffer_.size());
    if (count <= 0) return;
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
                Event("[" + std::to_string(payload.size() - taken) + " bytes of the terminal dropped: the line is full]");
            }
        }
    }
    if (commandReader_.Broken() && !wasBroken) {
        channelOpen_ = false;
        Event("[the terminal's channel broke: its commands are ignored]");
    }
}

}  // namespace tap
