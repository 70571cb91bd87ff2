// The watch's one loop: records from the kernel side become the monitor's
// feed (one port per device that is open, arriving and leaving with its
// first and last holder) and the capture file; what the kernel side could
// not carry is counted and told. One thread: nothing here waits for the
// monitor (the feed drops whole records when it falls behind, and says so).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tap/capture_writer.h"
#include "tap/feed_writer.h"
#include "watch/bpf_watch.h"
#include "watch/device_set.h"
#include "watch/port_book.h"

namespace watch {

struct WatchConfig {
    int Feed = -1;  // the feed FIFO, non-blocking
    int Stop = -1;  // readable when a signal came
    tap::CaptureWriter* Capture = nullptr;
    bool FindNewDevices = false;  // every serial device: look for new ones now and then
};

class Watcher {
public:
    Watcher(const WatchConfig& config, BpfWatch& kernel, DeviceSet& devices);

    // Tells the feed it is a watch's, and takes what was open before the
    // kernel side was attached (from /proc).
    void Start();
    // Serves the kernel side and the feed until the stop descriptor is
    // readable.
    void Run();
    // Every port leaves; what waits goes into the feed as far as it takes it.
    void Finish();

    // One record of the kernel side (public for the tests).
    void Take(const watchwire::WatchRecord& record, std::string_view payload);

private:
    uint64_t Microseconds(uint64_t nanoseconds) const;
    uint64_t Now() const;
    uint64_t InOrder(uint64_t at);
    bool DrainRing();  // every record waiting in the ring, taken; false when the ring failed
    void Event(uint32_t device, uint16_t port, uint64_t at, const std::string& text);
    void Data(uint32_t device, uint16_t port, bool tx, uint64_t at, std::string_view bytes);
    void Changed(uint32_t device, const PortChange& change, uint64_t at);
    void TellLost();                                 // every port's
    void TellLost(uint32_t device, uint16_t port);  // one port's, when it changed
    void LookForDevices();
    void CaptureSwitch(uint32_t device, uint64_t at);

    WatchConfig config_;
    BpfWatch& kernel_;
    DeviceSet& devices_;
    PortBook book_;
    tap::FeedWriter feed_;
    uint64_t startNs_ = 0;
    uint32_t captureDevice_ = 0;  // the device of the capture's last frame
    uint64_t lastAt_ = 0;         // the time of the last record: none goes before it
    std::map<uint32_t, watchwire::WatchLost> told_;  // what was not seen, as far as it was told
};

}  // namespace watch
