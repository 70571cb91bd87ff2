#include "bench/serial_line_bench.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/bench_windows.h"
#include "bench/capture_rig.h"
#include "bench/results_table.h"
#include "bench/serial_peer_runs.h"
#include "emulator/control/test_control.h"
#include "port/capture_ring.h"
#include "port/pane_line_queue.h"
#include "support/line_pattern.h"
#include "support/serial_lines.h"

namespace bench {
namespace {

// The two lines through which the client reaches the server, as serial_peer's
// arguments. Each has one relay that makes the client's pty itself and opens
// the device's end of a pty pair, whose other end is the server's: the tap
// (quorvel-tap, its feed read by this process's monitor) and socat in its
// place.
struct Lines {
    std::string Tap, Direct;
};

bool BuildLines(testsupport::LineLab& lab, Lines* lines) {
    bool made = lab.StartPair("dev") && lab.StartTap("--com 70 --link " + lab.Path("app") + " " + lab.Path("dev.a")) &&
                lab.StartPair("dev2") &&
                lab.StartProgram({"socat", "pty,raw,echo=0,link=" + lab.Path("app2"), lab.Path("dev2.a") + ",raw,echo=0"},
                                 "middle") &&
                lab.WaitForFile("app2");
    auto between = [&](const char* client, const char* server) {
        return " --client " + lab.Path(client) + " --server " + lab.Path(server);
    };
    lines->Tap = between("app", "dev.b");
    lines->Direct = between("app2", "dev2.b");
    return made;
}

constexpr int kExchanges = 2000;
constexpr double kBulk = 8 << 20;
constexpr int kBulkRuns = 10;
constexpr long kBurst = 2 << 20;  // each way at once, unpaced

// What the pane made of the burst both ways, with the feed records that the
// tap dropped, as the pane tells them.
struct BurstFigures {
    PaneFigures Pane;
    uint64_t FeedDropped = 0;
};

struct SerialFigures {
    PeerFigures TapLatency, DirectLatency, TapBulk, DirectBulk;  // the bulk figures: the best run's
    double TapBulkMedian = 0, DirectBulkMedian = 0;              // MB/s
    bool TapBulkIntact = true, DirectBulkIntact = true;           // every run's
    uint64_t BulkDropped = 0, PacedDropped = 0;
    bool PacedIntact = false;
    uint32_t PacedHighestFill = 0;  // records pending in the ring at most during the paced run
    BurstFigures Burst;
};

// The highest number of records pending in the port's ring while it lives,
// sampled every millisecond from a thread of its own, since the main thread
// is busy serving the panes. The sampler alone writes highest_ until
// Highest joins it; the main thread reads it only after.
class RingFillWatch {
public:
    RingFillWatch(const CaptureRig& rig, const BenchPort& port)
        : sampler_([this, &rig, &port] {
              while (!stop_) {
                  highest_ = std::max(highest_, rig.Pending(port));
                  Sleep(1);
              }
          }) {}
    ~RingFillWatch() { Highest(); }
    uint32_t Highest() {
        stop_ = true;
        if (sampler_.joinable()) sampler_.join();
        return highest_;
    }

private:
    std::atomic<bool> stop_{false};
    uint32_t highest_ = 0;
    std::thread sampler_;
};

// kBurst bytes each way at once, as fast as the line takes them, and what
// the pane shows of them: the tap's feed holds what the ring has no room
// for yet.
BurstFigures MeasureBurst(testsupport::LineLab& lab, const CaptureRig& rig, const BenchPort& port) {
    BurstFigures figures;
    figures.Pane = PassedAndShown(rig, port, kBurst,
                                  [&] { return BothWaysIntact(lab, "app", "dev.b", kBurst, "", "burst", 70000); });
    for (const std::string& line : figures.Pane.Lines) {
        unsigned long count = 0;
        int end = 0;  // the whole text matched: "[38400 8N1]" must not count
        if (std::sscanf(line.c_str(), "[%lu feed records dropped]%n", &count, &end) == 1 && end > 0) {
            figures.FeedDropped += count;
        }
    }
    return figures;
}

// The bulk runs, the tap's and socat's in turn, each after the monitor is
// idle. One run lasts a tenth of a second, at the mercy of a busy machine:
// single runs of either line ranged from 38 to 94 MB/s within minutes. So
// there are ten of each, and the fastest and the median are reported;
// intact only when every run passed intact.
void MeasureBulk(testsupport::LineLab& lab, const Lines& lines, const CaptureRig& rig, uint32_t key,
                 SerialFigures* figures) {
    std::string bulk = "--throughput " + std::to_string(static_cast<long>(kBulk));
    std::vector<double> tapRates, directRates;
    for (int run = 0; run < kBulkRuns; ++run) {
        WaitForIdleMonitor(rig);
        uint64_t droppedBefore = emu::control::DroppedRecords(key);
        PeerFigures tap = RunPeer(lab, bulk + lines.Tap, "tap-bulk" + std::to_string(run), 130000);
        WaitForIdleMonitor(rig);
        uint64_t dropped = emu::control::DroppedRecords(key) - droppedBefore;
        PeerFigures direct = RunPeer(lab, bulk + lines.Direct, "direct-bulk" + std::to_string(run), 130000);
        figures->TapBulkIntact = figures->TapBulkIntact && tap.Values[2] == 1;
        figures->DirectBulkIntact = figures->DirectBulkIntact && direct.Values[2] == 1;
        tapRates.push_back(Rate(tap));
        directRates.push_back(Rate(direct));
        if (Rate(tap) > Rate(figures->TapBulk)) {
            figures->TapBulk = tap;
            figures->BulkDropped = dropped;
        }
        if (Rate(direct) > Rate(figures->DirectBulk)) figures->DirectBulk = direct;
    }
    figures->TapBulkMedian = Percentile(tapRates, 0.5);
    figures->DirectBulkMedian = Percentile(directRates, 0.5);
}

// Every figure of the table, the tap's and socat's in turn in one run.
SerialFigures Measure(testsupport::LineLab& lab, const Lines& lines, CaptureRig& rig, double pacedSeconds) {
    SerialFigures figures;
    const BenchPort& port = rig.Ports().front();
    uint32_t key = port.Key;
    std::string latency = "--latency " + std::to_string(kExchanges);
    figures.TapLatency = RunPeer(lab, latency + lines.Tap, "tap-latency", 60000);
    figures.DirectLatency = RunPeer(lab, latency + lines.Direct, "direct-latency", 60000);
    MeasureBulk(lab, lines, rig, key, &figures);
    // The paced run measures the monitor keeping up, not its backlog.
    WaitForIdleMonitor(rig);
    uint64_t droppedBefore = emu::control::DroppedRecords(key);
    // The tap's two ends, 92160 bytes a second each way for pacedSeconds.
    RingFillWatch fill(rig, port);
    figures.PacedIntact = PacedBothWaysIntact(lab, "app", "dev.b", static_cast<long>(92160 * pacedSeconds),
                                              static_cast<DWORD>(pacedSeconds * 1000 + 40000));
    figures.PacedHighestFill = fill.Highest();
    figures.PacedDropped = emu::control::DroppedRecords(key) - droppedBefore;
    figures.Burst = MeasureBurst(lab, rig, port);
    return figures;
}

void PrintTable(const SerialFigures& f, double pacedSeconds) {
    ResultsTable table("8. Real serial lines: the tap against socat as the relay, on pty pairs",
                       {"figure", "tap", "socat in its place", "tap - socat, or tap / socat", "target"});
    auto us = [](const PeerFigures& p) { return p.Done ? Fixed(p.Values[1] / 1000, 3) : "-"; };
    auto p99 = [](const PeerFigures& p) { return p.Done ? Fixed(p.Values[2] / 1000, 3) : "-"; };
    table.Row({"\"AT\\r\" and \"\\r\\nOK\\r\\n\", median ms (" + std::to_string(kExchanges) + " exchanges)",
               us(f.TapLatency), us(f.DirectLatency),
               Fixed((f.TapLatency.Values[1] - f.DirectLatency.Values[1]) / 1000, 3), "added at most 0.15"});
    table.Row({"the same, 99th percentile ms", p99(f.TapLatency), p99(f.DirectLatency),
               Fixed((f.TapLatency.Values[2] - f.DirectLatency.Values[2]) / 1000, 3), "added at most 1"});
    auto share = [](double tap, double direct) { return direct > 0 ? Fixed(tap / direct, 3) : "-"; };
    table.Row({"8 MiB one way, unpaced, MB/s (best of " + std::to_string(kBulkRuns) + ")", Fixed(Rate(f.TapBulk), 2),
               Fixed(Rate(f.DirectBulk), 2), share(Rate(f.TapBulk), Rate(f.DirectBulk)), "share at least 0.9"});
    table.Row({"  the same, median", Fixed(f.TapBulkMedian, 2), Fixed(f.DirectBulkMedian, 2),
               share(f.TapBulkMedian, f.DirectBulkMedian), "reported"});
    table.Row({"  passed intact, every run", f.TapBulkIntact ? "yes" : "NO", f.DirectBulkIntact ? "yes" : "NO", "",
               "yes"});
    table.Row({"  records dropped (ring full), best run", std::to_string(f.BulkDropped) + " (" +
               Fixed(100.0 * static_cast<double>(f.BulkDropped) / kBulk, 1) + " %)", "", "", "reported"});
    table.Row({"921600 baud both ways, 64-byte runs, " + Fixed(pacedSeconds, 0) + " s: passed intact",
               f.PacedIntact ? "yes" : "NO", "", "", "yes"});
    table.Row({"  records dropped", std::to_string(f.PacedDropped), "", "", "0"});
    table.Row({"  most records waiting in the ring (of " + std::to_string(quorvel::kCaptureCapacity) + ")",
               std::to_string(f.PacedHighestFill), "", "", "reported"});
    const PaneFigures& b = f.Burst.Pane;
    table.Row({std::to_string(kBurst >> 20) + " MiB each way at once, unpaced: bytes shown in the pane / bytes passed",
               Fixed(b.ShownShare, 3), "", "", "1.000"});
    table.Row({"  passed intact; the pane's bytes each way in order", std::string(b.Intact ? "yes" : "NO") + "; " +
               (b.InOrder ? "yes" : "NO"), "", "", "yes; yes"});
    table.Row({"  records dropped: ring full; feed records by the tap", std::to_string(b.RingDropped) + "; " +
               std::to_string(f.Burst.FeedDropped), "", "", "0; 0"});
    table.Print("The same Linux program (serial_peer) measures both lines in the same run: the tap's line runs "
                "through quorvel-tap, whose feed this process's monitor reads into a pane that shows every byte; "
                "the other has socat relaying in its place, between the same kind of ptys. Latency: one exchange "
                "at a time, from writing the command to reading the whole answer. Throughput: the two lines in "
                "turn, each run starting once the monitor has shown all that came before; a run lasts about a "
                "tenth of a second, so single runs scatter widely. Records dropped: those the monitor's ring had "
                "no room for. The burst: both ends write as fast as the line takes it; the stand-in reads the "
                "tap's feed only as the ring makes room, and the tap's feed queue holds the rest. The pane's "
                "bytes are counted once the monitor has taken no line for a second.");
}

}  // namespace

// Waits until the monitor has shown all that came: the ring is empty and
// the pane has taken every line. A run that follows starts with the monitor
// idle, instead of sharing the machine's two cores with its backlog.
void WaitForIdleMonitor(const CaptureRig& rig) {
    PumpUntil([&] { return rig.Drained() && !quorvel::AnyListedQueue(); }, 120000);
}

// The pane's lines from line `from` on, once the monitor has been idle and
// the pane has taken no line for a second: a burst may still wait in the
// tap's feed while the ring is empty for a moment.
std::vector<std::string> SettledLinesFrom(const CaptureRig& rig, HWND pane, LRESULT from) {
    LRESULT count = -1;
    for (int look = 0; look < 120; ++look) {
        WaitForIdleMonitor(rig);
        PumpFor(1000);
        LRESULT now = SendMessageA(pane, LB_GETCOUNT, 0, 0);
        if (now == count && rig.Drained() && !quorvel::AnyListedQueue()) break;
        count = now;
    }
    std::vector<std::string> lines;
    for (LRESULT i = from; i < count; ++i) {
        LRESULT length = SendMessageA(pane, LB_GETTEXTLEN, i, 0);
        std::string line(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
        if (length > 0) SendMessageA(pane, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        line.resize(length > 0 ? static_cast<size_t>(length) : 0);
        lines.push_back(std::move(line));
    }
    return lines;
}

PaneFigures PassedAndShown(const CaptureRig& rig, const BenchPort& port, long bytes,
                           const std::function<bool()>& pass) {
    PaneFigures figures;
    WaitForIdleMonitor(rig);
    LRESULT from = SendMessageA(port.Pane, LB_GETCOUNT, 0, 0);
    uint64_t droppedBefore = emu::control::DroppedRecords(port.Key);
    figures.Intact = pass();
    figures.Lines = SettledLinesFrom(rig, port.Pane, from);
    figures.RingDropped = emu::control::DroppedRecords(port.Key) - droppedBefore;
    std::string tx = testsupport::PaneBytes(figures.Lines, static_cast<char>(0xB6));
    std::string rx = testsupport::PaneBytes(figures.Lines, static_cast<char>(0xB7));
    figures.ShownShare = static_cast<double>(tx.size() + rx.size()) / (2.0 * static_cast<double>(bytes));
    figures.InOrder = tx == testsupport::LinePattern(1).Take(bytes) && rx == testsupport::LinePattern(2).Take(bytes);
    return figures;
}

void SerialLineTable(HWND main, double pacedSeconds) {
    testsupport::LineLab lab;
    Lines lines;
    CaptureRig rig;
    if (!lab.Ready() || !BuildLines(lab, &lines) ||
        !rig.StartScenario(main, ("tap COM70 " + lab.TapFolder()).c_str(), 1)) {
        Note("8. Real serial lines: not measured (socat, serial_peer, quorvel-tap or the tap's port missing)");
        return;
    }
    PrintTable(Measure(lab, lines, rig, pacedSeconds), pacedSeconds);
}

}  // namespace bench
