// Ports of the driver stand-in, each with a pane in the benchmark's main
// window and the program's capture thread, whose lines the program's line
// intake adds on the main thread; and the two measurements made on them:
// draining a full ring, and feeding the ports at a line rate.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "bench/pane_watch.h"
#include "bench/traffic_shapes.h"

namespace quorvel {
struct PortMonitor;
}

namespace bench {

struct BenchPort {
    uint32_t Key = 0;
    quorvel::PortMonitor* Monitor = nullptr;
    HWND Pane = nullptr;
    HANDLE Thread = nullptr;
};

// A running stand-in with `ports` ports under capture.
class CaptureRig {
public:
    CaptureRig() = default;
    CaptureRig(const CaptureRig&) = delete;
    CaptureRig& operator=(const CaptureRig&) = delete;
    ~CaptureRig() { Stop(); }

    // Starts a clean stand-in, opens the device, makes the ports arrive and
    // starts quorvel::CaptureThread per port on its pane, as the program
    // does; returns once every ring is attached and every data wait is
    // pending. A start that fails says so on stderr. clock (optional) is
    // where the panes look up when each run entered the ring.
    bool Start(HWND main, int ports, const RunClock* clock = nullptr);
    // The same with the ports that a scenario of the stand-in brings (a
    // relay's port on a real line, for example) in place of modems.
    bool StartScenario(HWND main, const char* scenario, int ports);
    // Ends the capture threads (the panes go first, so that a ring still
    // full drains in moments), frees the ports and resets the stand-in.
    void Stop();

    std::vector<BenchPort>& Ports() { return ports_; }
    uint32_t Pending(const BenchPort& port) const;
    bool Drained() const;  // no port has records left in its ring
    uint32_t Lines(const BenchPort& port) const;

private:
    bool StartPorts(HWND main, int ports, const RunClock* clock, const char* scenario);

    HANDLE device_ = INVALID_HANDLE_VALUE;
    std::vector<BenchPort> ports_;
    bool started_ = false;
};

struct DrainFigures {
    int Ports = 0;
    uint32_t ExpectedLines = 0;  // per port
    uint64_t Lines = 0;          // all ports
    uint64_t Records = 0;        // records drained, all ports
    double Seconds = 0;          // from the data-wait completion to the last line, or the cap
    bool Complete = false;       // every line arrived within the cap
    double LinesPerSecond() const { return Seconds > 0 ? Lines / Seconds : 0; }
};

// Puts 99999 records of the shape into every port's ring at once (the data
// wait completes with them) and serves the panes until all their lines are
// there, or for at most capSeconds.
DrainFigures MeasureDrain(HWND main, int ports, const TrafficShape& shape, double capSeconds);

struct FeedFigures {
    int Ports = 0;
    double Seconds = 0;
    uint64_t Offered = 0;             // per port: records the feeder gave the driver
    std::vector<uint64_t> Dropped;    // per port: records that found the ring full
    std::vector<uint32_t> Pending;    // per port: records still in the ring at the end
    uint64_t Lines = 0;               // all ports
    std::vector<double> Delays;       // seconds from a run's first byte entering the ring to its line
    std::vector<double> PostWaits;    // seconds that messages posted every 20 ms waited
    std::vector<WallSpan> PostSpans;  // the same waits as stretches of the system clock
    std::vector<WallSpan> RepaintSpans;  // every pane's waits for a repaint: how long added lines waited
    uint64_t CommittedWithLines = 0;  // the process's commit at the end, the panes still holding their lines
    uint64_t ResidentWithLines = 0;   // the process's resident memory then
    uint64_t DroppedAll() const;
    // The least that any port had drained, as a share of what was offered.
    double LeastDrainedShare() const;
    double PerPortBytesPerSecond() const;  // the least drained port's bytes a second
};

// Feeds every port the shape's runs at the line rate, every 10 ms, for
// `seconds`, while the panes are served.
FeedFigures MeasureFeed(HWND main, int ports, const TrafficShape& shape, const LineRate& rate,
                        double seconds);

}  // namespace bench
