// The tap's relay: one thread, one poll loop, that owns the line.
//
// A tap passes every byte between the application's side (a pty's master in
// packet mode) and the device as soon as it comes, in order: each direction
// has a bounded queue, and a source is read only while its sink's queue has
// room, so the line is held back, never cut short; partial writes and EAGAIN
// keep the rest queued. A sniffer reads two read-only devices, TX and RX,
// and writes nothing to either.
//
// The monitor hears of it all through the feed, which is never on the
// line's path: every byte (TX when it went to the device, RX when it came
// from it, both on one clock), and every event as a line of text: the
// settings that took effect, the device gone and back, the application
// opening and closing its side, breaks, framing and parity errors, overruns,
// the modem lines changing. When the feed backs up, feed records go, never
// line bytes.
//
// Settings follow the application: each change stands in the application's
// stream where it was noticed (TIOCPKT_IOCTL, which the master reports ahead
// of the bytes still queued, or a look at its settings while the kernel
// processes its input). What it wrote before goes out first, then the device
// gets the change once it has sent all of that, then what came after: each
// change in order, each shown. Its flushes drop what waits for it or for
// the device (TIOCPKT_FLUSHREAD, _FLUSHWRITE).
//
// No stale bytes: while no program has the application's side open, the
// device's bytes are recorded and counted but not written into it (they
// would reach whatever opens it next); the bytes of a program that has
// closed its side are passed at once, never handed on behind the next one's;
// while the device is away, the application's bytes are counted and
// dropped, never delivered late. The device is opened again by its path
// about twice a second.
//
// The terminal: while the monitor's command channel holds the line, its
// commands go to the device and the device's answers to the monitor only;
// the application's bytes wait (in their queue, then unread) and pass in
// order once the channel closes, or are dropped and counted if the
// application closes first. The channel closes when its writer goes.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/formats/tap_feed.h"
#include "tap/byte_queue.h"
#include "tap/capture_writer.h"
#include "tap/feed_writer.h"
#include "tap/line_ops.h"
#include "tap/line_settings.h"
#include "tap/parmrk_decoder.h"

namespace tap {

struct RelayConfig {
    bool Sniff = false;
    std::string DevicePath;   // a tap's device; a sniffer's TX
    std::string SecondPath;   // a sniffer's RX
    LineSettings Settings;    // what the device gets until the application sets its own
    int Device = -1;          // the device, already open and set (a sniffer's TX)
    int SecondDevice = -1;    // a sniffer's RX, already open and set
    int Master = -1;          // a tap's application side: a pty's master in packet mode
    int ApplicationWatch = -1;  // readable when a program opens the application side, or -1
    int Feed = -1;            // the feed FIFO, written non-blocking
    int Commands = -1;        // the command FIFO, read non-blocking, or -1
    int Stop = -1;            // readable: the relay ends
    CaptureWriter* Capture = nullptr;  // the session's pcap file, or none
    std::vector<std::string> FirstLines;  // the pane's first lines: which device is which (device_identity.h)
};

// What the relay counted; for its tests and its end.
struct RelayCounts {
    uint64_t NotPassed = 0;         // device bytes kept from a closed application side
    uint64_t DroppedWhileAway = 0;  // application bytes dropped while the device was away
    uint64_t DroppedWhileHeld = 0;  // bytes of an application that closed while the terminal held the line
    uint64_t FeedDropped = 0;       // feed records dropped
};

class Relay {
public:
    // The relay owns the devices from here on, and closes them at its end.
    Relay(const RelayConfig& config, const LineOps& ops);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // One turn: waits for the line at most until the next timer (or
    // limitMs, when that comes first; -1: no limit of its own), then serves
    // what came. False once the stop descriptor is readable.
    bool Turn(int limitMs = -1);
    // Turns until the stop descriptor is readable.
    void Run();
    // At the end: what can still be written without waiting goes out.
    void Finish();

    RelayCounts Counts() const;
    bool ApplicationOpen() const { return applicationOpen_; }
    bool DevicePresent(int which = 0) const { return devices_[which].Fd >= 0; }

private:
    struct Device {
        std::string Path;
        std::string Name;     // "" for a tap's device; "TX" or "RX" for a sniffer's
        int Fd = -1;
        bool ReadOnly = false;
        uint8_t Code = tapfeed::kRx;  // what its bytes are in the feed
        uint64_t ReopenAt = 0;        // while away: when to try again
        ParmrkDecoder Marks;
        ErrorCounts Seen;             // the counts after its last read
        bool CountsKnown = false;
        uint8_t Lines = 0;            // modem lines last seen (serialcapture::ControlLine bits)
        bool LinesKnown = false;
        bool NoLinesSaid = false;     // "no modem lines" was said once
    };

    static constexpr size_t kMostChanges = 256;  // changes that wait behind bytes, at most

    // A change of the application's settings and where it stands in its
    // stream: after the first At bytes taken from its side.
    struct SettingsChange {
        LineSettings Settings;
        uint64_t At = 0;
    };

    struct PollSet;
    PollSet BuildPollSet();
    void ServeLine(const PollSet& set);
    void PassQueued();
    void ServeTimers();

    uint64_t Now() const;
    // An event: a line in the pane, and in the capture with its code.
    void Event(const std::string& text, uint8_t code = 0);
    void DeviceEvent(const Device& device, const std::string& what, uint8_t code = 0);
    void Bytes(tapfeed::FeedKind kind, uint64_t now, std::string_view bytes);
    int TimerLimit() const;

    // The device (relay.cpp).
    void ReadDevice(Device& device);
    void PassDeviceData(Device& device, const std::string& data, const std::vector<LineMark>& marks, bool pass);
    void ReportMarks(Device& device, const std::vector<LineMark>& marks, size_t from, size_t to);
    size_t DropDeviceInput(Device& device);
    void WriteDevice(Device& device);
    void DeviceGone(Device& device);
    void ReopenDevice(Device& device);
    bool LinesWatched(const Device& device) const;
    void WatchModemLines(Device& device);
    void DeviceOpened(Device& device);
    bool MayReadDevice(const Device& device) const;
    ByteQueue* DeviceSource();

    // The application's side and the terminal (relay_application.cpp).
    void ReadApplication();
    void PacketStatus(uint8_t status);
    void ConsumeStatus();
    void InputFlushed();
    void OutputFlushed();
    void WriteApplication();
    bool DrainWatch();
    void WatchEvents();
    void ApplicationOpened();
    void ApplicationClosed();
    void CheckApplicationOpen();
    bool MayReadApplication() const;
    void ReadCommands();
    void CommandWriterGone();

    // The settings that follow the application (relay_settings.cpp).
    void LookAtSettings(bool notice);
    const LineSettings& Target() const;
    uint64_t QueueFront() const { return taken_ - toDevice_.Size(); }
    size_t SendableToDevice() const;
    void ApplyDueChanges();
    void SettingsOutcome();
    void AppliedSettings(const LineSettings& settings);

    RelayConfig config_;
    const LineOps& ops_;
    uint64_t start_ = 0;  // the clock at the relay's start: the feed's times count from it
    FeedWriter feed_;
    Device devices_[2];
    int deviceCount_ = 1;

    // A tap's application side.
    ByteQueue toDevice_;       // from the application, on their way to the device
    ByteQueue toApplication_;  // from the device, on their way to the application
    ByteQueue commands_;       // the terminal's, on their way to the device
    bool applicationOpen_ = false;
    uint64_t taken_ = 0;       // application bytes taken from its side so far, queued or dropped
    size_t discard_ = 0;       // application bytes still unread that a flush or a close has dropped
    size_t waiting_ = 0;       // application bytes unread since before the last read that brought bytes

    // Its settings.
    LineSettings applied_;                  // what the device was last given
    LineSettings seen_;                     // what the application's settings said when last looked at
    std::deque<SettingsChange> changes_;    // noticed, in order, not yet applied
    int applying_ = -1;                     // the first change's outcome, while the device sends what it holds
    bool processing_ = false;               // the kernel processes the application's input: EXTPROC is off
    uint64_t nextSettingsLook_ = 0;         // while it is: when its settings are looked at again

    bool channelOpen_ = false;  // the terminal holds the line
    tapfeed::CommandReader commandReader_;
    uint64_t nextLineCheck_ = 0;
    uint64_t nextApplicationCheck_ = 0;
    RelayCounts totals_;
    RelayCounts told_;  // the totals when the pane was last told of them
    std::vector<uint8_t> buffer_;
};

}  // namespace tap
