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
#include "bench/remote_lines.h"
#include "bench/results_table.h"
#include "bench/serial_peer_runs.h"
#include "emulator/control/test_control.h"
#include "port/capture_ring.h"
#include "port/pane_line_queue.h"
#include "support/line_pattern.h"
#include "support/process_cpu.h"
#include "support/serial_lines.h"

namespace bench {
namespace {

// The two lines of one comparison, through which serial_peer's client
// reaches its server: the tap's (quorvel-tap, its feed read by this
// process's monitor) and a relay in its place. Each line's relay makes the
// client's pty itself and reaches the device's end of a pty pair, whose
// other end is the server's.
struct Lines {
    std::string Name;                     // before the names of serial_peer's files
    std::string TapApp, TapDevice;        // the tap's line: client and server, files of the lab
    std::string DirectApp, DirectDevice;  // the relay's
};

// serial_peer's arguments for a run between two files of the lab.
std::string Between(const testsupport::LineLab& lab, const std::string& client, const std::string& server) {
    return " --client " + lab.Path(client) + " --server " + lab.Path(server);
}

// On this machine: the tap owns one end of a pair, socat relays to one end
// of another.
const Lines kLocal = {"", "app", "dev.b", "app2", "dev2.b"};

bool BuildLines(testsupport::LineLab& lab) {
    return lab.StartPair("dev") && lab.StartTap("--com 70 --link " + lab.Path("app") + " " + lab.Path("dev.a")) &&
           lab.StartPair("dev2") &&
           lab.StartProgram({"socat", "pty,raw,echo=0,link=" + lab.Path("app2"), lab.Path("dev2.a") + ",raw,echo=0"},
                            "middle") &&
           lab.WaitForFile("app2");
}

// On another machine, as far as the relays can tell: ser2net serves one
// end of a pair over Telnet with RFC 2217 to the tap, and one end of another
// over plain TCP to socat.
const Lines kRemote = {"remote-", "rapp", "rdev.b", "rapp2", "rdev2.b"};
// The same line through a second tap whose feed no monitor reads: the tap
// alone, without the monitor's share of this machine's two cores.
const Lines kRemoteAlone = {"remote-alone-", "rapp3", "rdev.b", "rapp2", "rdev2.b"};

bool BuildRemoteLines(testsupport::LineLab& lab, std::string* line) {
    Ser2netPorts ports;
    bool served = lab.StartPair("rdev") && lab.StartPair("rdev2") &&
                  StartSer2net(lab, lab.Path("rdev.a"), lab.Path("rdev2.a"), &ports);
    *line = "rfc2217://127.0.0.1:" + std::to_string(ports.Telnet);
    return served && lab.StartTap("--com 71 --link " + lab.Path("rapp") + " " + *line, "rtap") &&
           lab.StartProgram({"socat", "pty,raw,echo=0,link=" + lab.Path("rapp2"),
                             "tcp:127.0.0.1:" + std::to_string(ports.Plain)},
                            "rmiddle") &&
           lab.WaitForFile("rapp2");
}

constexpr int kExchanges = 2000;
constexpr double kBulk = 8 << 20;
constexpr int kBulkRuns = 10;
constexpr long kBurst = 2 << 20;  // each way at once, unpaced
constexpr long kPacedRate = 92160;  // 921600 baud's bytes a second, each way

long PacedBytes(double seconds) { return static_cast<long>(kPacedRate * seconds); }
DWORD PacedWaitMs(double seconds) { return static_cast<DWORD>(seconds * 1000 + 40000); }

// A run both ways on the tap's line as its pane showed it, with the feed
// records that the tap dropped, as the pane tells them.
struct ShownRun {
    PaneFigures Pane;
    uint64_t FeedDropped = 0;
};

// One comparison's latency and unpaced throughput.
struct LineFigures {
    PeerFigures TapLatency, DirectLatency, TapBulk, DirectBulk;  // the bulk figures: the best run's
    double TapBulkMedian = 0, DirectBulkMedian = 0;              // MB/s
    bool TapBulkIntact = true, DirectBulkIntact = true;           // every run's
    uint64_t BulkDropped = 0;
    // This process's CPU seconds from each tap run's start until the
    // monitor had shown all of it, over every run: what showing the bytes
    // cost the monitor (its Wine server and display not counted).
    double MonitorCpu = 0;
    // Over the bulk runs, where each line has a ser2net of its own: each
    // server's CPU seconds (the tap's line's, the relay's; < 0: not read).
    double TapServerCpu = -1, DirectServerCpu = -1;
};

// The paced run on the tap's line, and on the relay's where it is measured.
struct PacedFigures {
    ShownRun Tap;
    uint32_t HighestFill = 0;  // records pending in the ring at most during the run
    bool DirectIntact = false;
};

struct SerialFigures {
    LineFigures Local, Remote, RemoteAlone;  // RemoteAlone: the bulk runs only
    PacedFigures LocalPaced, RemotePaced;
    ShownRun Burst;
    bool RemoteMeasured = false, RemoteAloneMeasured = false;
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

// The run both ways on the tap's line, and the pane's account of it.
ShownRun ShownOnTap(const CaptureRig& rig, const BenchPort& port, long bytes, const std::function<bool()>& pass) {
    ShownRun run;
    run.Pane = PassedAndShown(rig, port, bytes, pass);
    for (const std::string& line : run.Pane.Lines) {
        unsigned long count = 0;
        int end = 0;  // the whole text matched: "[38400 8N1]" must not count
        if (std::sscanf(line.c_str(), "[%lu feed records dropped]%n", &count, &end) == 1 && end > 0) {
            run.FeedDropped += count;
        }
    }
    return run;
}

// kBurst bytes each way at once, as fast as the line takes them, and what
// the pane shows of them: the tap's feed holds what the ring has no room
// for yet.
ShownRun MeasureBurst(testsupport::LineLab& lab, const CaptureRig& rig, const BenchPort& port) {
    return ShownOnTap(rig, port, kBurst, [&] {
        return BothWaysIntact(lab, kLocal.TapApp, kLocal.TapDevice, kBurst, "", "burst", 70000);
    });
}

// The bulk runs, the tap's and the relay's in turn, each after the monitor
// is idle. One run lasts a tenth of a second, at the mercy of a busy
// machine: single runs of either line ranged from 38 to 94 MB/s within
// minutes. So there are ten of each, and the fastest and the median are
// reported; intact only when every run passed intact.
void MeasureBulk(testsupport::LineLab& lab, const Lines& lines, const CaptureRig& rig, uint32_t key,
                 LineFigures* figures) {
    std::string bulk = "--throughput " + std::to_string(static_cast<long>(kBulk));
    std::vector<double> tapRates, directRates;
    for (int run = 0; run < kBulkRuns; ++run) {
        WaitForIdleMonitor(rig);
        uint64_t droppedBefore = emu::control::DroppedRecords(key);
        double cpu = testsupport::ProcessCpuSeconds();
        PeerFigures tap = RunPeer(lab, bulk + Between(lab, lines.TapApp, lines.TapDevice),
                                  lines.Name + "tap-bulk" + std::to_string(run), 130000);
        WaitForIdleMonitor(rig);
        figures->MonitorCpu += testsupport::ProcessCpuSeconds() - cpu;
        uint64_t dropped = emu::control::DroppedRecords(key) - droppedBefore;
        PeerFigures direct = RunPeer(lab, bulk + Between(lab, lines.DirectApp, lines.DirectDevice),
                                     lines.Name + "direct-bulk" + std::to_string(run), 130000);
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

// The latency of each line, then the bulk runs.
LineFigures MeasureLines(testsupport::LineLab& lab, const Lines& lines, const CaptureRig& rig, uint32_t key) {
    LineFigures figures;
    std::string latency = "--latency " + std::to_string(kExchanges);
    figures.TapLatency = RunPeer(lab, latency + Between(lab, lines.TapApp, lines.TapDevice),
                                 lines.Name + "tap-latency", 60000);
    figures.DirectLatency = RunPeer(lab, latency + Between(lab, lines.DirectApp, lines.DirectDevice),
                                    lines.Name + "direct-latency", 60000);
    MeasureBulk(lab, lines, rig, key, &figures);
    return figures;
}

// The tap's two ends, kPacedRate bytes a second each way for `seconds`,
// started once the monitor is idle: the run measures the monitor keeping
// up, not its backlog.
PacedFigures MeasurePaced(testsupport::LineLab& lab, const Lines& lines, const CaptureRig& rig,
                          const BenchPort& port, double seconds) {
    PacedFigures figures;
    long bytes = PacedBytes(seconds);
    WaitForIdleMonitor(rig);
    RingFillWatch fill(rig, port);
    figures.Tap = ShownOnTap(rig, port, bytes, [&] {
        return PacedBothWaysIntact(lab, lines.TapApp, lines.TapDevice, bytes, PacedWaitMs(seconds),
                                   lines.Name + "tap-paced");
    });
    figures.HighestFill = fill.Highest();
    return figures;
}

// Every figure of the tap's line on this machine, and socat's beside it.
void MeasureLocal(testsupport::LineLab& lab, CaptureRig& rig, double pacedSeconds, SerialFigures* figures) {
    const BenchPort& port = rig.Ports().front();
    figures->Local = MeasureLines(lab, kLocal, rig, port.Key);
    figures->LocalPaced = MeasurePaced(lab, kLocal, rig, port, pacedSeconds);
    figures->Burst = MeasureBurst(lab, rig, port);
}

// The same for the line on another machine, with the paced run on socat's
// line as well: ser2net is between both, and it may be what falls behind.
// Last, the bulk runs again through a tap whose feed nobody reads (ser2net
// serves one client a line: the monitored tap goes first).
void MeasureRemote(testsupport::LineLab& lab, CaptureRig& rig, const std::string& line, double pacedSeconds,
                   SerialFigures* figures) {
    const BenchPort& port = rig.Ports().front();
    figures->Remote = MeasureLines(lab, kRemote, rig, port.Key);
    figures->RemotePaced = MeasurePaced(lab, kRemote, rig, port, pacedSeconds);
    figures->RemotePaced.DirectIntact =
        PacedBothWaysIntact(lab, kRemote.DirectApp, kRemote.DirectDevice, PacedBytes(pacedSeconds),
                            PacedWaitMs(pacedSeconds), kRemote.Name + "direct-paced");
    figures->RemoteAloneMeasured =
        lab.StopTap("rtap") && lab.StartTap("--com 72 --link " + lab.Path(kRemoteAlone.TapApp) + " " + line, "rtap2");
    if (!figures->RemoteAloneMeasured) return;
    // Each server's CPU time over the runs: the other line is idle meanwhile.
    double telnet = 0, plain = 0, telnetAfter = 0, plainAfter = 0;
    bool timed = Ser2netCpuSeconds(lab, &telnet, &plain);
    MeasureBulk(lab, kRemoteAlone, rig, port.Key, &figures->RemoteAlone);
    if (timed && Ser2netCpuSeconds(lab, &telnetAfter, &plainAfter)) {
        figures->RemoteAlone.TapServerCpu = telnetAfter - telnet;
        figures->RemoteAlone.DirectServerCpu = plainAfter - plain;
    }
}

std::string YesNo(bool yes) { return yes ? "yes" : "NO"; }

// The latency rows of one comparison: the median, then the 99th percentile.
void LatencyRows(ResultsTable& table, const LineFigures& f, const std::string& p99Target) {
    auto ms = [](const PeerFigures& p, int at) { return p.Done ? Fixed(p.Values[at] / 1000, 3) : "-"; };
    auto added = [&](int at) { return Fixed((f.TapLatency.Values[at] - f.DirectLatency.Values[at]) / 1000, 3); };
    table.Row({"\"AT\\r\" and \"\\r\\nOK\\r\\n\", median ms (" + std::to_string(kExchanges) + " exchanges)",
               ms(f.TapLatency, 1), ms(f.DirectLatency, 1), added(1), "added at most 0.15"});
    table.Row({"the same, 99th percentile ms", ms(f.TapLatency, 2), ms(f.DirectLatency, 2), added(2), p99Target});
}

std::string Share(double tap, double direct) { return direct > 0 ? Fixed(tap / direct, 3) : "-"; }

void BulkRows(ResultsTable& table, const LineFigures& f) {
    table.Row({"8 MiB one way, unpaced, MB/s (best of " + std::to_string(kBulkRuns) + ")", Fixed(Rate(f.TapBulk), 2),
               Fixed(Rate(f.DirectBulk), 2), Share(Rate(f.TapBulk), Rate(f.DirectBulk)), "share at least 0.9"});
    table.Row({"  the same, median", Fixed(f.TapBulkMedian, 2), Fixed(f.DirectBulkMedian, 2),
               Share(f.TapBulkMedian, f.DirectBulkMedian), "reported"});
    table.Row({"  passed intact, every run", YesNo(f.TapBulkIntact), YesNo(f.DirectBulkIntact), "", "yes"});
    table.Row({"  records dropped (ring full), best run", std::to_string(f.BulkDropped) + " (" +
               Fixed(100.0 * static_cast<double>(f.BulkDropped) / kBulk, 1) + " %)", "", "", "reported"});
    // Milliseconds of the monitor's CPU for each MB shown, and the cores
    // that takes while the line runs at its median rate.
    double msPerMB = f.MonitorCpu * 1000 / (kBulkRuns * kBulk / 1e6);
    table.Row({"  the monitor's CPU ms for each MB it showed; cores that is at the median rate", Fixed(msPerMB, 1), "",
               Fixed(msPerMB / 1000 * f.TapBulkMedian, 2), "reported"});
}

std::string PacedTitle(double pacedSeconds) {
    return "921600 baud both ways, 64-byte runs, " + Fixed(pacedSeconds, 0) + " s: passed intact";
}

void DroppedRow(ResultsTable& table, const ShownRun& run) {
    table.Row({"  records dropped: ring full; feed records by the tap", std::to_string(run.Pane.RingDropped) + "; " +
               std::to_string(run.FeedDropped), "", "", "0; 0"});
}

// The rows of the line on another machine: latency, the paced run, bulk.
void RemoteRows(ResultsTable& table, const SerialFigures& f, double pacedSeconds) {
    table.Row({"A line on another machine: ser2net on loopback, RFC 2217 to the tap, plain TCP to socat", "", "", "",
               ""});
    if (!f.RemoteMeasured) {
        table.Row({"  not measured (ser2net, or the tap's line through it, missing)", "-", "-", "", ""});
        return;
    }
    LatencyRows(table, f.Remote, "reported");
    const PaneFigures& pane = f.RemotePaced.Tap.Pane;
    table.Row({PacedTitle(pacedSeconds), YesNo(pane.Intact), YesNo(f.RemotePaced.DirectIntact), "", "yes"});
    table.Row({"  bytes shown in the pane / bytes passed; the pane's bytes each way in order",
               Fixed(pane.ShownShare, 3) + "; " + YesNo(pane.InOrder), "", "", "1.000; yes"});
    DroppedRow(table, f.RemotePaced.Tap);
    BulkRows(table, f.Remote);
    if (!f.RemoteAloneMeasured) return;
    const LineFigures& alone = f.RemoteAlone;
    table.Row({"  the same through a tap whose feed no monitor reads (the tap alone), best", Fixed(Rate(alone.TapBulk), 2),
               Fixed(Rate(alone.DirectBulk), 2), Share(Rate(alone.TapBulk), Rate(alone.DirectBulk)), "reported"});
    table.Row({"    and median; passed intact, every run", Fixed(alone.TapBulkMedian, 2) + "; " + YesNo(alone.TapBulkIntact),
               Fixed(alone.DirectBulkMedian, 2) + "; " + YesNo(alone.DirectBulkIntact),
               Share(alone.TapBulkMedian, alone.DirectBulkMedian), "reported"});
    if (alone.TapServerCpu <= 0 || alone.DirectServerCpu <= 0) return;
    table.Row({"    ser2net's CPU seconds in these runs (plain / Telnet: the share were ser2net the only limit)",
               Fixed(alone.TapServerCpu, 2), Fixed(alone.DirectServerCpu, 2),
               Share(alone.DirectServerCpu, alone.TapServerCpu), "reported"});
}

constexpr const char* kNotes =
    "The same Linux program (serial_peer) measures both lines in the same run: the tap's line runs through "
    "quorvel-tap, whose feed this process's monitor reads into a pane that shows every byte; the other has socat "
    "relaying in its place, between the same kind of ptys. Latency: one exchange at a time, from writing the command "
    "to reading the whole answer. Throughput: the two lines in turn, each run starting once the monitor has shown all "
    "that came before; a run lasts about a tenth of a second, so single runs scatter widely. Records dropped: those "
    "the monitor's ring had no room for. The monitor's CPU: this process's CPU time (every thread: the stand-in "
    "reading the feed, the capture thread, the panes) from each tap run's start until the monitor had shown all of "
    "it, for each MB; times the median rate, the part of a core the monitor takes while the line runs, which the "
    "line's programs lack where they fill the machine's cores. The burst: both ends write as fast as the line takes "
    "it; the stand-in reads "
    "the tap's feed only as the ring makes room, and the tap's feed queue holds the rest. The pane's bytes are "
    "counted once the monitor has taken no line for a second. A line on another machine: ser2net (4.x, its "
    "defaults, on this machine; one process for each line) serves the end of one pty pair over Telnet with RFC "
    "2217 on a port of loopback, "
    "which quorvel-tap reaches as rfc2217://127.0.0.1:PORT, and the end of another pair over plain TCP, which socat "
    "relays to a pty of its own; serial_peer's client is on each relay's pty and its server on each pair's other "
    "end. Both lines pass ser2net, which waits at least a millisecond before it sends what the device gave, so the "
    "difference between them is the tap's and Telnet's. They are measured as above once the first rows are done, "
    "the monitor then reading the second tap's feed into a pane of its own; the paced run passes both lines in "
    "turn, and the pane's bytes each way are compared with those that passed on the tap's line. Then the bulk runs "
    "are repeated through a third tap on the same line whose feed no monitor reads: on this machine's two cores the "
    "monitor, showing every byte, takes CPU time from ser2net, which is what limits both lines. The monitor (this "
    "process, its Wine server and its display) runs at nice 10, as quorvel-tap runs its own, and the line's "
    "programs at 0. Over those last runs, each line's ser2net's CPU time is read from /proc: Telnet costs ser2net "
    "more for the same bytes, which bounds the tap's share however fast the tap is.";

void PrintTable(const SerialFigures& f, double pacedSeconds) {
    ResultsTable table("8. Real serial lines: the tap against socat as the relay, on pty pairs",
                       {"figure", "tap", "socat in its place", "tap - socat, or tap / socat", "target"});
    LatencyRows(table, f.Local, "added at most 1");
    BulkRows(table, f.Local);
    table.Row({PacedTitle(pacedSeconds), YesNo(f.LocalPaced.Tap.Pane.Intact), "", "", "yes"});
    table.Row({"  records dropped", std::to_string(f.LocalPaced.Tap.Pane.RingDropped), "", "", "0"});
    table.Row({"  most records waiting in the ring (of " + std::to_string(quorvel::kCaptureCapacity) + ")",
               std::to_string(f.LocalPaced.HighestFill), "", "", "reported"});
    const PaneFigures& b = f.Burst.Pane;
    table.Row({std::to_string(kBurst >> 20) + " MiB each way at once, unpaced: bytes shown in the pane / bytes passed",
               Fixed(b.ShownShare, 3), "", "", "1.000"});
    table.Row({"  passed intact; the pane's bytes each way in order", YesNo(b.Intact) + "; " + YesNo(b.InOrder), "",
               "", "yes; yes"});
    DroppedRow(table, f.Burst);
    RemoteRows(table, f, pacedSeconds);
    table.Print(kNotes);
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

// The line on another machine is measured after the first, in a monitor
// started afresh: the first tap's pane goes with the lines of its bulk runs,
// so that the process never holds both lines' at once.
void SerialLineTable(HWND main, double pacedSeconds) {
    testsupport::LineLab lab;
    CaptureRig rig;
    if (!lab.Ready() || !BuildLines(lab) || !rig.StartScenario(main, ("tap COM70 " + lab.TapFolder()).c_str(), 1)) {
        Note("8. Real serial lines: not measured (socat, serial_peer, quorvel-tap or the tap's port missing)");
        return;
    }
    SerialFigures figures;
    MeasureLocal(lab, rig, pacedSeconds, &figures);
    std::string line;
    figures.RemoteMeasured =
        BuildRemoteLines(lab, &line) && rig.StartScenario(main, ("tap COM71 " + lab.TapFolder("rtap")).c_str(), 1);
    if (figures.RemoteMeasured) MeasureRemote(lab, rig, line, pacedSeconds, &figures);
    PrintTable(figures, pacedSeconds);
}

}  // namespace bench
