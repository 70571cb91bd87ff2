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
constexpr uint64_t kSettingsLookUs = 5000;  // the settings are looked at this often while the kernel processes the input

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

}  // namespace

Relay::Relay(const RelayConfig& config, const LineOps& ops)
    : config_(config), ops_(ops), start_(ops.NowMicroseconds()), feed_(kFeedBytes), toDevice_(kQueueBytes), toApplication_(kQueueBytes),
      commands_(kQueueBytes), applied_(config.Settings), seen_(config.Settings), buffer_(kChunk + 1) {
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
    for (const std::string& line : config.FirstLines) Event(line, serialcapture::kStatusChange);
    AppliedSettings(applied_);
    for (int i = 0; i < deviceCount_; ++i) {
        if (devices_[i].Fd >= 0) DeviceOpened(devices_[i]);
    }
    // A line on another machine may not answer at the start: it is away
    // until it does.
    if (!config.Sniff && devices_[0].Fd < 0) {
        DeviceEvent(devices_[0], "device gone");
        devices_[0].ReopenAt = Now() + kReopenUs;
    }
    if (!config.Sniff) CheckApplicationOpen();
}

Relay::~Relay() {
    for (Device& device : devices_) ops_.Close(device.Fd);
    ops_.Close(applying_);
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

// The terminal's bytes first (they are what it asked for), then, unless it
// holds the line, the application's up to its next settings change. Nothing
// while a change waits for the device to send what it holds.
ByteQueue* Relay::DeviceSource() {
    if (applying_ >= 0) return nullptr;
    if (!commands_.Empty()) return &commands_;
    if (!channelOpen_ && SendableToDevice() > 0) return &toDevice_;
    return nullptr;
}

int Relay::TimerLimit() const {
    uint64_t now = Now();
    uint64_t next = std::numeric_limits<uint64_t>::max();
    for (int i = 0; i < deviceCount_; ++i) {
        const Device& device = devices_[i];
        if (device.Fd < 0) next = std::min(next, device.ReopenAt);
        else if (LinesWatched(device)) next = std::min(next, nextLineCheck_);
    }
    if (!config_.Sniff && !applicationOpen_) next = std::min(next, nextApplicationCheck_);
    if (processing_ && applicationOpen_) next = std::min(next, nextSettingsLook_);
    if (config_.Capture && config_.Capture->Due()) next = std::min(next, config_.Capture->Due());
    if (next == std::numeric_limits<uint64_t>::max()) return -1;
    return next <= now ? 0 : static_cast<int>((next - now + 999) / 1000);
}

// Where each descriptor of one turn stands in the poll set (-1: left out).
struct Relay::PollSet {
    std::vector<pollfd> Fds;
    int Stop = -1, Feed = -1, Commands = -1, Watch = -1, Master = -1, Applying = -1;
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
    // then. An open one is always heard for its notices (POLLPRI: settings,
    // flushes), and for its bytes while their queue has room.
    if (tapMode && applicationOpen_) {
        set.Master = set.Add(config_.Master, static_cast<short>(POLLPRI | (MayReadApplication() ? POLLIN : 0) |
                                                                (toApplication_.Empty() ? 0 : POLLOUT)));
    }
    if (applying_ >= 0) set.Applying = set.Add(applying_, POLLIN);
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
    if (set.Revents(set.Watch) & POLLIN) WatchEvents();
    if (set.Revents(set.Applying)) SettingsOutcome();
    ServeLine(set);
    if (set.Revents(set.Commands) & POLLIN) ReadCommands();
    if (set.Revents(set.Commands) & POLLHUP) CommandWriterGone();
    ServeTimers();
    feed_.Flush(config_.Feed, ops_);
    return true;
}

// The line first: what can go out goes, what came is read, and what that
// read brought goes out at once. The application's status comes before all
// (a flush drops what would be written to it now).
void Relay::ServeLine(const PollSet& set) {
    constexpr short kEnded = POLLHUP | POLLERR | POLLNVAL;
    short master = set.Revents(set.Master);
    if (master & POLLPRI) ReadApplication();
    for (int i = 0; i < deviceCount_; ++i) {
        if (set.Revents(set.Devices[i]) & POLLOUT) WriteDevice(devices_[i]);
    }
    if ((master & POLLOUT) && applicationOpen_) WriteApplication();
    for (int i = 0; i < deviceCount_; ++i) {
        Device& device = devices_[i];
        short revents = set.Revents(set.Devices[i]);
        if (device.Fd < 0 || !(revents & (POLLIN | kEnded))) continue;
        // A hang-up means gone, whether or not there is room for its bytes.
        if ((revents & kEnded) && !MayReadDevice(device)) DeviceGone(device);
        else ReadDevice(device);
    }
    if (master & (POLLIN | kEnded)) ReadApplication();
    if (applicationOpen_ && (master & POLLHUP)) {
        // Gone: what it wrote before it closed still goes, first what it
        // can now, the rest as the device takes it.
        if (devices_[0].Fd >= 0 && DeviceSource()) WriteDevice(devices_[0]);
        ApplicationClosed();
    }
    PassQueued();
}

// What the queues hold goes out now, as far as the two ends take it; so do
// the last bytes of a program that has closed the application's side.
void Relay::PassQueued() {
    if (config_.Sniff) return;
    if (!applicationOpen_ && MayReadApplication() && ops_.Unread(config_.Master) > 0) ReadApplication();
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
            if (devices_[i].Fd >= 0 && LinesWatched(devices_[i])) WatchModemLines(devices_[i]);
        }
        nextLineCheck_ = now + kLineCheckUs;
    }
    if (!config_.Sniff && !applicationOpen_ && now >= nextApplicationCheck_) CheckApplicationOpen();
    if (processing_ && applicationOpen_ && now >= nextSettingsLook_) {
        LookAtSettings(false);
        nextSettingsLook_ = now + kSettingsLookUs;
    }
    if (!config_.Sniff) ApplyDueChanges();
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
    if (count < 0 && CallWaits(errno)) return;
    if (count <= 0) return DeviceGone(device);
    std::string data;
    std::vector<LineMark> marks;
    device.Marks.Decode(buffer_.data(), static_cast<size_t>(count), &data, &marks);
    PassDeviceData(device, data, marks, true);
}

// What the device holds now, read and recorded but not passed (the
// application flushed its input); how many bytes that was. Reading until it
// has no more takes what waits in its buffers too (FIONREAD does not count
// those); the cap keeps a device that never pauses from holding the loop.
size_t Relay::DropDeviceInput(Device& device) {
    constexpr size_t kMostDropped = 1 << 18;
    size_t dropped = 0;
    while (dropped < kMostDropped) {
        ssize_t count = ops_.Read(device.Fd, buffer_.data(), buffer_.size());
        if (count <= 0) break;  // a device that fails is found gone by its next poll
        std::string data;
        std::vector<LineMark> marks;
        device.Marks.Decode(buffer_.data(), static_cast<size_t>(count), &data, &marks);
        PassDeviceData(device, data, marks, false);
        dropped += data.size();
    }
    return dropped;
}

// The data, cut where the marks stood, each mark an event in its place; RX
// is passed to the application unless `pass` is false.
void Relay::PassDeviceData(Device& device, const std::string& data, const std::vector<LineMark>& marks, bool pass) {
    uint64_t now = Now();
    auto take = [&](std::string_view piece) {
        if (piece.empty()) return;
        if (device.ReadOnly) {
            Bytes(static_cast<tapfeed::FeedKind>(device.Code), now, piece);
        } else if (channelOpen_) {
            Bytes(tapfeed::kAnswer, now, piece);
        } else {
            Bytes(tapfeed::kRx, now, piece);
            if (!pass) return;
            if (applicationOpen_) {
                toApplication_.Append(piece);
            } else {
                totals_.NotPassed += piece.size();
            }
        }
    };
    size_t from = 0;
    for (size_t i = 0; i < marks.size(); ++i) {
        take(std::string_view(data).substr(from, marks[i].Offset - from));
        from = marks[i].Offset;
        ReportMarks(device, marks, i, i + 1);
    }
    take(std::string_view(data).substr(from));
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
    if (source == &toDevice_) front = front.substr(0, SendableToDevice());
    ssize_t written = ops_.Write(device.Fd, front.data(), front.size());
    if (written < 0 && CallWaits(errno)) return;
    if (written < 0) return DeviceGone(device);
    if (written == 0) return;
    Bytes(tapfeed::kTx, Now(), front.substr(0, static_cast<size_t>(written)));
    source->Consume(static_cast<size_t>(written));
    if (source == &toDevice_ && !changes_.empty()) ApplyDueChanges();
}

void Relay::DeviceGone(Device& device) {
    ops_.Close(device.Fd);
    device.Fd = -1;
    device.Marks = ParmrkDecoder();
    device.CountsKnown = false;
    device.LinesKnown = false;
    device.ReopenAt = Now() + kReopenUs;
    DeviceEvent(device, "device gone");
    if (device.ReadOnly) return;
    // A change that waited for it is kept for its return, as are the ones
    // behind the bytes that are dropped now.
    ops_.Close(applying_);
    applying_ = -1;
    totals_.DroppedWhileAway += toDevice_.Clear() + commands_.Clear();
    ApplyDueChanges();
}

void Relay::ReopenDevice(Device& device) {
    int fd = ops_.OpenDevice(device.Path.c_str(), device.ReadOnly);
    if (fd < 0) {
        device.ReopenAt = Now() + kReopenUs;
        return;
    }
    device.Fd = fd;
    DeviceEvent(device, "device back");
    if (config_.Sniff) {
        if (!ops_.ApplySettings(fd, applied_)) Event("[settings refused: " + DescribeSettings(applied_).substr(1));
        else AppliedSettings(applied_);
    } else {
        // The device gets the settings it had, as a change ahead of all
        // others: nothing passes until it has taken them (or refused).
        changes_.push_front({applied_, QueueFront()});
        ApplyDueChanges();
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

// Modem lines are read while the device has them, and while it may yet
// tell (a remote server's first notice).
bool Relay::LinesWatched(const Device& device) const { return device.LinesKnown || !device.NoLinesSaid; }

void Relay::WatchModemLines(Device& device) {
    int bits = 0;
    errno = 0;
    if (!ops_.ModemLines(device.Fd, &bits)) {
        if (errno == EAGAIN) return;  // not known yet
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

}  // namespace tap
