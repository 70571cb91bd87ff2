#include "watch/watcher.h"

#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "emulator/formats/serial_capture_records.h"
#include "tap/line_ops.h"
#include "watch/call_text.h"

namespace watch {
namespace {

constexpr size_t kFeedBytes = 4 << 20;  // what waits for the monitor at most
constexpr int kLostLookMs = 100;        // what was not seen is looked at this often
constexpr int kDevicesLookMs = 1000;    // new serial devices are looked for this often
constexpr int kRingLookMs = 20;         // data wakes the loop only in bulk: looked at this often too

uint64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

std::string ProgramOf(uint32_t process) {
    std::ifstream file("/proc/" + std::to_string(process) + "/comm");
    std::string name;
    std::getline(file, name);
    return name.empty() ? "?" : name;
}

std::string NotSeenText(const watchwire::WatchLost& now, const watchwire::WatchLost& told) {
    std::string text = "[";
    if (now.Bytes != told.Bytes) text += std::to_string(now.Bytes - told.Bytes) + " bytes not seen";
    if (now.Records != told.Records) {
        text += (text.size() > 1 ? ", " : "") + std::to_string(now.Records - told.Records) + " calls not seen";
    }
    return text + "]";
}

}  // namespace

Watcher::Watcher(const WatchConfig& config, BpfWatch& kernel, DeviceSet& devices)
    : config_(config), kernel_(kernel), devices_(devices), feed_(kFeedBytes), startNs_(MonotonicNs()) {}

uint64_t Watcher::Microseconds(uint64_t nanoseconds) const {
    return nanoseconds > startNs_ ? (nanoseconds - startNs_) / 1000 : 0;
}

uint64_t Watcher::Now() const { return Microseconds(MonotonicNs()); }

// Records of calls on different CPUs may reach the ring a little out of the
// order of their times: the feed and the capture take them in ring order,
// each no earlier than the one before.
uint64_t Watcher::InOrder(uint64_t at) {
    lastAt_ = std::max(lastAt_, at);
    return lastAt_;
}

void Watcher::CaptureSwitch(uint32_t device, uint64_t at) {
    if (!config_.Capture || device == captureDevice_) return;
    captureDevice_ = device;
    auto known = devices_.find(device);
    config_.Capture->Event(serialcapture::kStatusChange, at, "[" + (known == devices_.end() ? "?" : known->second.Path) + "]");
}

void Watcher::Event(uint32_t device, uint16_t port, uint64_t at, const std::string& text) {
    if (text.empty()) return;
    feed_.Add(tapfeed::kEvent, at, text, port);
    if (config_.Capture) {
        CaptureSwitch(device, at);
        config_.Capture->Event(serialcapture::kStatusChange, at, text);
    }
}

void Watcher::Data(uint32_t device, uint16_t port, bool tx, uint64_t at, std::string_view bytes) {
    feed_.Add(tx ? tapfeed::kTx : tapfeed::kRx, at, bytes, port);
    if (config_.Capture) {
        CaptureSwitch(device, at);
        config_.Capture->Data(tx ? serialcapture::kTxData : serialcapture::kRxData, at, bytes);
    }
}

// A port that arrives first says which device it is; one that leaves first
// tells what was not seen of it.
void Watcher::Changed(uint32_t device, const PortChange& change, uint64_t at) {
    if (change.Arrived) {
        const tap::DeviceIdentity& identity = devices_[device];
        feed_.Add(tapfeed::kPortArrived, at, tap::ArrivalProperties(identity), change.Port);
        told_[device] = kernel_.Lost(device);  // what went before this port is not its news
        Event(device, change.Port, at, tap::FirstLine(identity));
    }
    if (change.Left) TellLost(device, change.Port);
    Event(device, change.Port, at, change.Text);
    if (change.Left) feed_.Add(tapfeed::kPortLeft, at, {}, change.Port);
}

void Watcher::Take(const watchwire::WatchRecord& record, std::string_view payload) {
    uint64_t at = InOrder(Microseconds(record.Nanoseconds));
    std::string program(record.Program, strnlen(record.Program, sizeof(record.Program)));
    switch (record.Kind) {
        case watchwire::WATCH_OPENED:
            Changed(record.Device, book_.Opened(record.Device, record.Process, record.Descriptor, program, record.Request), at);
            return;
        case watchwire::WATCH_CLOSED:
            Changed(record.Device, book_.Closed(record.Device, record.Process, record.Descriptor, program, record.Request), at);
            return;
    }
    uint16_t port = book_.PortOf(record.Device);
    if (!port) return;  // a call that raced its descriptor's close
    switch (record.Kind) {
        case watchwire::WATCH_WRITTEN:
        case watchwire::WATCH_READ:
            Data(record.Device, port, record.Kind == watchwire::WATCH_WRITTEN, at, payload);
            return;
        case watchwire::WATCH_FAILED:
            Event(record.Device, port, at, FailureText(record.Request != 0, record.Result));
            return;
        case watchwire::WATCH_IOCTL:
            Event(record.Device, port, at, IoctlText(record.Request, record.Result, payload));
            return;
    }
}

void Watcher::TellLost(uint32_t device, uint16_t port) {
    watchwire::WatchLost now = kernel_.Lost(device);
    watchwire::WatchLost& told = told_[device];
    if (now.Bytes == told.Bytes && now.Records == told.Records) return;
    std::string text = NotSeenText(now, told);
    uint64_t at = InOrder(Now());
    feed_.Add(tapfeed::kEvent, at, text, port);
    if (config_.Capture) {
        CaptureSwitch(device, at);
        config_.Capture->Event(serialcapture::kDataLost, at, text);
    }
    told = now;
}

void Watcher::TellLost() {
    for (const auto& [device, port] : book_.Ports()) TellLost(device, port);
}

void Watcher::LookForDevices() {
    for (uint32_t device : AddSerialDevices(&devices_)) kernel_.WatchDevice(device);
}

// What was open before the kernel side was attached: every process's
// descriptors of a watched device, from /proc.
void Watcher::Start() {
    std::string hello(1, static_cast<char>(tapfeed::kModeWatch));
    feed_.Add(tapfeed::kHello, 0, hello);
    DIR* processes = opendir("/proc");
    if (!processes) return;
    while (dirent* entry = readdir(processes)) {
        uint32_t process = static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
        if (!process) continue;
        std::string folder = "/proc/" + std::string(entry->d_name) + "/fd";
        DIR* descriptors = opendir(folder.c_str());
        if (!descriptors) continue;
        while (dirent* fd = readdir(descriptors)) {
            struct stat info{};
            if (fd->d_name[0] == '.' || stat((folder + "/" + fd->d_name).c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) continue;
            uint32_t device = KernelDevice(info.st_rdev);
            int32_t number = static_cast<int32_t>(std::strtol(fd->d_name, nullptr, 10));
            if (!devices_.count(device) || !kernel_.AddDescriptor(process, static_cast<uint32_t>(number), device)) continue;
            PortChange change = book_.Opened(device, process, number, ProgramOf(process), watchwire::WATCH_BY_OPEN);
            if (!change.Text.empty()) change.Text.insert(change.Text.size() - 1, ", before the watch began");
            Changed(device, change, InOrder(Now()));
        }
        closedir(descriptors);
    }
    closedir(processes);
}

bool Watcher::DrainRing() {
    return kernel_.Drain(0, [this](const watchwire::WatchRecord& record, std::string_view payload) { Take(record, payload); });
}

void Watcher::Run() {
    const tap::LineOps& ops = tap::KernelLineOps();
    uint64_t lostLook = 0, devicesLook = 0;
    for (;;) {
        pollfd watched[3] = {{config_.Stop, POLLIN, 0}, {kernel_.RingDescriptor(), POLLIN, 0},
                             {config_.Feed, static_cast<short>(feed_.HasOutput() ? POLLOUT : 0), 0}};
        int waitMs = kRingLookMs;
        if (config_.Capture && config_.Capture->Due()) {
            uint64_t now = Now(), due = config_.Capture->Due();
            waitMs = due <= now ? 0 : std::min<int>(waitMs, static_cast<int>((due - now + 999) / 1000));
        }
        poll(watched, 3, waitMs);
        if (!DrainRing()) return;
        uint64_t now = Now();
        if (now >= lostLook) {
            TellLost();
            lostLook = now + kLostLookMs * 1000;
        }
        if (config_.FindNewDevices && now >= devicesLook) {
            LookForDevices();
            devicesLook = now + kDevicesLookMs * 1000;
        }
        if (config_.Capture) config_.Capture->Tick(now);
        if (feed_.HasOutput()) feed_.Flush(config_.Feed, ops);
        if (watched[0].revents) return;
    }
}

void Watcher::Finish() {
    DrainRing();
    TellLost();
    uint64_t at = InOrder(Now());
    for (const auto& [device, port] : book_.Ports()) feed_.Add(tapfeed::kPortLeft, at, {}, port);
    if (feed_.HasOutput()) feed_.Flush(config_.Feed, tap::KernelLineOps());
}

}  // namespace watch
