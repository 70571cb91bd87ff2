// The capture benchmark: how much traffic the program's capture pipeline
// (capture threads, the line hand-over and the main thread's line intake)
// takes from the capture rings into visible panes without a dropped record,
// how late the lines come, how long the main thread keeps other messages
// waiting meanwhile, how fast the monitor shows its first ports, and what a
// port and a line cost in memory. Every figure stands beside a limit
// measured in the same run.
//
//   capture_bench [--quick] [--feed=S] [--trial=S] [--confirm=S]
//                 [--soak=S] [--results=PATH] [--machine-stalls=PATH]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "bench/bench_windows.h"
#include "bench/capture_rig.h"
#include "bench/list_box_probes.h"
#include "bench/machine_stalls.h"
#include "bench/pane_watch.h"
#include "bench/process_probes.h"
#include "bench/results_table.h"
#include "bench/capture_file_bench.h"
#include "bench/serial_line_bench.h"
#include "bench/watch_line_bench.h"
#include "bench/traffic_shapes.h"
#include "driver/stop_event.h"
#include "port/capture_ring.h"
#include "port/port_monitor.h"
#include "ui/flash_brushes.h"
#include "ui/capture_pane_window.h"
#include "ui/line_intake.h"

namespace {

using namespace bench;

struct Options {
    double FeedSeconds = 5;      // each load of the drain table
    double TrialSeconds = 10;    // each try of the most-ports search
    double ConfirmSeconds = 60;  // the zero-drop runs of the targets and of the search
    double ProbeSeconds = 2;
    double IdleSeconds = 30;     // the idle thread's posted messages
    double SoakSeconds = 0;      // > 0: only the soak
    int MostPorts = 24;  // a 32-bit process holds little more: Wine's list boxes fragment its heap
    bool LimitsOnly = false;
    int Only = 0;  // > 0: that question alone (after the limits)
    const char* Results = nullptr;
    const char* MachineStalls = nullptr;  // machine_stalls's record, kept while the benchmark runs
};

// A test rack's every port on screen at once: more panes than the search
// for the most ports goes to, at the slower line rate.
constexpr int kRackPorts = 32;

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        auto value = [&](const char* name) {
            size_t length = std::strlen(name);
            return std::strncmp(argument, name, length) == 0 ? argument + length : nullptr;
        };
        if (const char* v = value("--feed=")) options.FeedSeconds = std::atof(v);
        else if (const char* v = value("--trial=")) options.TrialSeconds = std::atof(v);
        else if (const char* v = value("--confirm=")) options.ConfirmSeconds = std::atof(v);
        else if (const char* v = value("--soak=")) options.SoakSeconds = std::atof(v);
        else if (const char* v = value("--results=")) options.Results = v;
        else if (const char* v = value("--machine-stalls=")) options.MachineStalls = v;
        else if (std::strcmp(argument, "--limits") == 0) options.LimitsOnly = true;
        else if (const char* v = value("--only=")) options.Only = std::atoi(v);
        else if (std::strcmp(argument, "--quick") == 0) {
            options.FeedSeconds = 2;
            options.TrialSeconds = 3;
            options.ConfirmSeconds = 10;
            options.ProbeSeconds = 1;
            options.IdleSeconds = 5;
            options.MostPorts = 16;
        } else {
            std::fprintf(stderr, "capture_bench: unknown option %s\n", argument);
        }
    }
    return options;
}

const char* WineVersion() {
    using Version = const char*(CDECL*)();
    auto version = reinterpret_cast<Version>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    return version ? version() : "not Wine";
}

std::string Ms(double seconds) { return Fixed(seconds * 1000, 1); }
std::string Ratio(double value, double limit) { return limit > 0 ? Fixed(value / limit, 3) : "-"; }

// ---- Reference limits ------------------------------------------------------

struct Limits {
    double OwnThreadAdds = 0;   // lines a second, hidden list box, its own thread
    double CrossThreadSends = 0;  // bare cross-thread SendMessage a second
    double TimerPeriod = 0;     // seconds, a 10 ms timer of an idle thread
    double IdlePostWait = 0;    // seconds, median wait of a posted message on an idle thread
    double IdleLongestPostWait = 0;  // seconds, the longest of those waits
    double IdleSeconds = 0;          // how long the idle thread was watched
    double IdleMachineStall = -1;    // seconds, the machine's longest stall meanwhile; < 0: not measured
    const char* MachineStalls = nullptr;  // where the machine's stalls are recorded, or null
    double BareStart = 0;       // seconds, a new process to its first window
    double FullPaneRepaint = 0;   // seconds, one repaint of a pane as high as the window
    double SmallPaneRepaint = 0;  // seconds, one repaint of a pane 1/16 of that
};

Limits MeasureLimits(HWND main, const Options& options) {
    Limits limits;
    limits.OwnThreadAdds = HiddenOwnThreadAdds(main, 100000).PerSecond();
    limits.CrossThreadSends = CrossThreadNullSends(main, options.ProbeSeconds).PerSecond();
    limits.TimerPeriod = TimerPeriod(main, quorvel::kIntakeTimerMs, options.ProbeSeconds);
    {
        double from = WallNow();
        PostProbe probe(main, 20);
        PumpFor(static_cast<DWORD>(options.IdleSeconds * 1000));
        std::vector<double> waits = probe.Stop();
        limits.IdlePostWait = Percentile(waits, 0.5);
        limits.IdleLongestPostWait = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
        limits.IdleSeconds = options.IdleSeconds;
        limits.MachineStalls = options.MachineStalls;
        MachineStalls stalls;
        if (stalls.Load(options.MachineStalls)) limits.IdleMachineStall = stalls.LongestWithin(from, WallNow());
    }
    limits.BareStart = SecondsToBareWindow();
    limits.FullPaneRepaint = 1 / PaneRepaints(main, 1, options.ProbeSeconds / 2).PerSecond();
    limits.SmallPaneRepaint = 1 / PaneRepaints(main, 16, options.ProbeSeconds / 2).PerSecond();
    ResultsTable table("0. Reference limits, measured in this run (small probes, not the program)",
                       {"limit", "value"});
    table.Row({"LB_ADDSTRING of a 64-byte line, hidden list box, its own thread", Fixed(limits.OwnThreadAdds, 0) + " /s"});
    table.Row({"bare cross-thread SendMessage (WM_NULL)", Fixed(limits.CrossThreadSends, 0) + " /s"});
    table.Row({"period of a 10 ms timer on an idle thread", Ms(limits.TimerPeriod) + " ms"});
    table.Row({"wait of a posted message on an idle thread (median)", Ms(limits.IdlePostWait) + " ms"});
    table.Row({"the longest such wait in " + Fixed(limits.IdleSeconds, 0) + " s (this machine's own stalls)",
               Ms(limits.IdleLongestPostWait) + " ms"});
    table.Row({"the machine's longest stall meanwhile (every CPU at once, seen by a real-time thread on each)",
               limits.IdleMachineStall < 0 ? "not measured" : Ms(limits.IdleMachineStall) + " ms"});
    table.Row({"a new process to its first visible window", Ms(limits.BareStart) + " ms"});
    table.Row({"one repaint of a pane as high as the window, full of lines", Ms(limits.FullPaneRepaint) + " ms"});
    table.Row({"one repaint of a pane a sixteenth as high", Ms(limits.SmallPaneRepaint) + " ms"});
    table.Row({"redraw off, two lines, redraw on and repaint, full pane", Ms(1 / RedrawCycles(main, 1, 1).PerSecond()) + " ms"});
    table.Row({"the same, a sixteenth pane", Ms(1 / RedrawCycles(main, 16, 1).PerSecond()) + " ms"});
    table.Print();
    return limits;
}

// ---- Loads -----------------------------------------------------------------

struct Load {
    std::string Name;
    FeedFigures Figures;
};

std::string LoadName(int ports, const TrafficShape& shape, const LineRate& rate, double seconds) {
    return std::to_string(ports) + " x " + rate.Name + ", " + shape.Name + ", " + Fixed(seconds, 0) + " s";
}

Load Feed(HWND main, int ports, const TrafficShape& shape, const LineRate& rate, double seconds) {
    Load load{LoadName(ports, shape, rate, seconds), MeasureFeed(main, ports, shape, rate, seconds)};
    std::fprintf(stderr, "  %s: dropped %llu\n", load.Name.c_str(),
                 static_cast<unsigned long long>(load.Figures.DroppedAll()));
    return load;
}

// ---- 1. Drain rate under feed ----------------------------------------------

void DrainTable(HWND main, const Options& options, const Limits& limits, std::vector<Load>& loads) {
    ResultsTable table("1. Drain rate: every port fed at its line rate in full duplex for " +
                           Fixed(options.FeedSeconds, 0) + " s",
                       {"line rate", "runs", "ports", "drained, least port / line rate", "dropped records",
                        "dropped %", "lines /s, all ports", "lines /s / own-thread add limit"});
    for (const LineRate* rate : {&kRate115200, &kRate921600}) {
        for (const TrafficShape& shape : kShapes) {
            for (int ports : {1, 4, 16}) {
                Load load = Feed(main, ports, shape, *rate, options.FeedSeconds);
                const FeedFigures& f = load.Figures;
                double offered = static_cast<double>(f.Offered) * ports;
                double linesPerSecond = f.Seconds > 0 ? f.Lines / f.Seconds : 0;
                table.Row({rate->Name, shape.Name, std::to_string(ports), Fixed(f.LeastDrainedShare(), 4),
                           std::to_string(f.DroppedAll()),
                           Fixed(offered > 0 ? 100.0 * f.DroppedAll() / offered : 0, 1),
                           Fixed(linesPerSecond, 0), Ratio(linesPerSecond, limits.OwnThreadAdds)});
                loads.push_back(std::move(load));
            }
        }
    }
    table.Print("Drained: the records the capture threads took from a port's ring as a share of those the "
                "feeder offered it (the least of the ports). Dropped: records that found the ring full, "
                "counted by the stand-in. Each run makes two lines (its timing line and its run line).");

    ResultsTable full("1b. Draining a full ring: 99999 records pending at once in every port's ring",
                      {"runs", "ports", "lines", "s", "lines /s", "/ bare cross-thread SendMessage rate",
                       "/ own-thread add limit"});
    for (const TrafficShape& shape : kShapes) {
        for (int ports : {1, 4}) {
            DrainFigures f = MeasureDrain(main, ports, shape, 5);
            full.Row({shape.Name, std::to_string(ports),
                      std::to_string(f.Lines) + (f.Complete ? "" : " (cut at 5 s)"), Fixed(f.Seconds, 2),
                      Fixed(f.LinesPerSecond(), 0), Ratio(f.LinesPerSecond(), limits.CrossThreadSends),
                      Ratio(f.LinesPerSecond(), limits.OwnThreadAdds)});
        }
    }
    full.Print("Target: 64-byte runs on one port at no less than 5 times the bare cross-thread call rate.");
}

// ---- 2. The most ports without a dropped record -----------------------------

struct MostPorts {
    int Ports = 0;
    Load Confirmed;
    int FirstDropping = 0;  // the least count seen dropping, 0 if none
    double FirstDroppingShare = 0;
};

MostPorts SearchMostPorts(HWND main, const LineRate& rate, const Options& options) {
    MostPorts most;
    int good = 0, bad = 0;
    auto tryPorts = [&](int ports) {
        Load load = Feed(main, ports, kShortRuns, rate, options.TrialSeconds);
        bool clean = load.Figures.DroppedAll() == 0;
        if (clean) {
            good = std::max(good, ports);
        } else if (bad == 0 || ports < bad) {
            bad = ports;
            most.FirstDropping = ports;
            most.FirstDroppingShare = 1 - load.Figures.LeastDrainedShare();
        }
        return clean;
    };
    for (int ports = 1; ports <= options.MostPorts && tryPorts(ports); ports *= 2) {
    }
    int high = bad ? bad : options.MostPorts + 1;
    while (high - good > 1) {
        int middle = (good + high) / 2;
        if (!tryPorts(middle)) high = middle;
    }
    // The count found in the short tries must hold for the whole run too.
    for (int ports = good; ports > 0; --ports) {
        Load load = Feed(main, ports, kShortRuns, rate, options.ConfirmSeconds);
        if (load.Figures.DroppedAll() == 0) {
            most.Ports = ports;
            most.Confirmed = std::move(load);
            return most;
        }
        most.FirstDropping = ports;
        most.FirstDroppingShare = 1 - load.Figures.LeastDrainedShare();
    }
    return most;
}

void MostPortsTable(HWND main, const Options& options, const Limits& limits, std::vector<Load>& loads) {
    ResultsTable table("2. The most ports that run " + Fixed(options.ConfirmSeconds, 0) +
                           " s with zero dropped records, 64-byte runs, full duplex",
                       {"line rate", "ports", "lines /s, all ports", "/ own-thread add limit",
                        "ports the add limit would carry", "least count that dropped", "its dropped share"});
    for (const LineRate* rate : {&kRate115200, &kRate921600}) {
        MostPorts most = SearchMostPorts(main, *rate, options);
        // Two lines per 64-byte run on every port.
        double linesPerPort = 2.0 * static_cast<double>(rate->BytesPerSecond) / kShortRuns.RunLength;
        double linesPerSecond = most.Ports * linesPerPort;
        table.Row({rate->Name, std::to_string(most.Ports), Fixed(linesPerSecond, 0),
                   Ratio(linesPerSecond, limits.OwnThreadAdds), Fixed(limits.OwnThreadAdds / linesPerPort, 1),
                   most.FirstDropping ? std::to_string(most.FirstDropping) : "none up to " + std::to_string(options.MostPorts),
                   most.FirstDropping ? Fixed(most.FirstDroppingShare, 4) : "-"});
        if (most.Ports > 0) loads.push_back(std::move(most.Confirmed));
    }
    table.Print("Found with " + Fixed(options.TrialSeconds, 0) + "-second tries (doubling, then halving the "
                "gap) and confirmed with a whole run. The add limit would carry: the own-thread add rate "
                "divided by the lines a port makes a second.");
}

// ---- 3 and 4. Delays and the main thread's answers --------------------------

void DelayTable(const std::vector<Load>& timed, const Limits& limits) {
    ResultsTable table("3. Delay from a run's first record entering the ring to its line being in the list box",
                       {"load", "runs timed", "median ms", "99th percentile ms", "median / timer period",
                        "99th / timer period", "dropped"});
    for (const Load& load : timed) {
        const std::vector<double>& delays = load.Figures.Delays;
        double median = Percentile(delays, 0.5), p99 = Percentile(delays, 0.99);
        table.Row({load.Name, std::to_string(delays.size()), Ms(median), Ms(p99),
                   Ratio(median, limits.TimerPeriod), Ratio(p99, limits.TimerPeriod),
                   std::to_string(load.Figures.DroppedAll())});
    }
    table.Print("Target: median under 50 ms at 4 ports x 115200 baud. Runs of 64 bytes and more carry their "
                "number; a line that begins a run is timed against the moment the feeder pushed the run's "
                "first byte. Timer period: the intake's 10 ms timer as measured on an idle thread.");
}

// The stretch of the system clock that a load's posts cover.
std::pair<double, double> PostedWithin(const FeedFigures& f) {
    if (f.PostSpans.empty()) return {0, 0};
    double to = 0;
    for (const WallSpan& span : f.PostSpans) to = std::max(to, span.Start + span.Seconds);
    return {f.PostSpans.front().Start, to};
}

void AnswerTable(const std::vector<Load>& loads, const Limits& limits) {
    ResultsTable table("4. How long a message posted to the main window every 20 ms waited for the main thread",
                       {"load", "posts", "median ms", "99th percentile ms", "longest ms", "longest / timer period",
                        "longest repaint wait ms", "/ timer period", "machine's longest stall ms",
                        "longest, less the machine's stalls, ms", "longest repaint wait, less them, ms"});
    MachineStalls stalls;
    bool measured = stalls.Load(limits.MachineStalls);
    auto machine = [&](double seconds) { return measured ? Ms(seconds) : std::string("-"); };
    for (const Load& load : loads) {
        const FeedFigures& f = load.Figures;
        double longest = f.PostWaits.empty() ? 0 : *std::max_element(f.PostWaits.begin(), f.PostWaits.end());
        auto [from, to] = PostedWithin(f);
        double repaint = LongestOwn(f.RepaintSpans, MachineStalls());  // no stalls: each wait whole
        table.Row({load.Name, std::to_string(f.PostWaits.size()), Ms(Percentile(f.PostWaits, 0.5)),
                   Ms(Percentile(f.PostWaits, 0.99)), Ms(longest), Ratio(longest, limits.TimerPeriod),
                   Ms(repaint), Ratio(repaint, limits.TimerPeriod),
                   machine(stalls.LongestWithin(from, to)), machine(LongestOwn(f.PostSpans, stalls)),
                   machine(LongestOwn(f.RepaintSpans, stalls))});
    }
    table.Print("Targets: a posted message waits at most 100 ms under every load; the window repaints at least "
                "every 200 ms (repaint wait: the longest that added lines waited for their pane's repaint). "
                "Idle, a posted message waits " + Ms(limits.IdlePostWait) + " ms (median) and at most " +
                Ms(limits.IdleLongestPostWait) + " ms in " + Fixed(limits.IdleSeconds, 0) + " s. The machine's "
                "stalls: the stretches in which every CPU ran nothing, not even a real-time thread that wakes "
                "every millisecond (machine_stalls, run beside the benchmark as root); \"less the machine's "
                "stalls\" takes from each wait the part in which the whole machine stood still" +
                (measured ? "." : "; not measured in this run (it needs root)."));
}

// ---- 5. Start-up ----------------------------------------------------------------

void StartupTable(const Limits& limits) {
    double seconds = SecondsToThreePortsWithTraffic();
    ResultsTable table("5. From the start of quorvel-emu.exe to its window showing three ports with traffic",
                       {"figure", "ms", "/ a new process to its first window"});
    table.Row({"three ports, each with its first lines", Ms(seconds), Ratio(seconds, limits.BareStart)});
    table.Row({"a bare window (the limit)", Ms(limits.BareStart), "1.000"});
    table.Print("Measured from outside the process: from CreateProcess to all three panes holding their "
                "timing line and first run line.");
}

// ---- 6. Memory ------------------------------------------------------------------

// The commit that each of `ports` ports adds, started.
double CommitPerPort(HWND main, int ports) {
    uint64_t before = CommittedBytes();
    CaptureRig rig;
    uint64_t withPorts = rig.Start(main, ports) ? CommittedBytes() : 0;
    return withPorts > before ? static_cast<double>(withPorts - before) / ports : 0;
}

struct LinesHeld {
    uint64_t Lines = 0;
    double PerLine = 0;      // commit grown per line held
    double TextPerLine = 0;  // the lines' text with terminator
};

// Lines held: 4 ports fed 64-byte runs at 921600 baud for `seconds`, their
// panes showing text or hex; the commit before the feed against the commit
// once every line is in its pane.
LinesHeld MeasureLinesHeld(HWND main, double seconds, bool hex) {
    LinesHeld held;
    CaptureRig rig;
    if (!rig.Start(main, 4)) return held;
    for (const BenchPort& port : rig.Ports()) InterlockedExchange(&port.Monitor->ShowHex, hex ? 1 : 0);
    PumpFor(200);
    uint64_t start = CommittedBytes();
    uint64_t offered = 0;
    double began = Now();
    while (Now() - began < seconds) {
        auto due = static_cast<uint64_t>((Now() - began) * static_cast<double>(kRate921600.BytesPerSecond));
        if (due > offered) {
            auto bytes = ShapeBytes(kShortRuns, kRate921600, offered, static_cast<uint32_t>(due - offered));
            for (const BenchPort& port : rig.Ports()) emu::control::PushRecords(port.Key, bytes);
            offered = due;
        }
        PumpFor(10);
    }
    PumpUntil([&] { return rig.Drained(); }, 10000);
    PumpFor(300);
    uint64_t text = 0;
    for (const BenchPort& port : rig.Ports()) {
        if (PaneWatch* watch = WatchOf(port.Pane)) {
            held.Lines += watch->Lines;
            text += watch->TextBytes;
        }
    }
    uint64_t end = CommittedBytes();
    if (held.Lines && end > start) held.PerLine = static_cast<double>(end - start) / static_cast<double>(held.Lines);
    if (held.Lines) held.TextPerLine = static_cast<double>(text) / static_cast<double>(held.Lines);
    return held;
}

void MemoryTable(HWND main, const Options& options) {
    constexpr int kPorts = 16;
    double perPort = CommitPerPort(main, kPorts);

    LinesHeld text = MeasureLinesHeld(main, options.FeedSeconds, false);
    LinesHeld hex = MeasureLinesHeld(main, options.FeedSeconds, true);
    ResultsTable table("6. Memory (commit charge of the process)",
                       {"figure", "bytes", "limit", "/ limit"});
    table.Row({"per port (16 ports started)", Fixed(perPort, 0), "its capture ring, " +
               std::to_string(quorvel::CaptureRingBytes(quorvel::kCaptureCapacity)),
               Ratio(perPort, static_cast<double>(quorvel::CaptureRingBytes(quorvel::kCaptureCapacity)))});
    for (const LinesHeld* held : {&text, &hex}) {
        table.Row({"per line held (" + std::to_string(held->Lines) + " lines, 64-byte runs" +
                       (held == &hex ? ", panes showing hex" : "") + ")",
                   Fixed(held->PerLine, 1), "its text with terminator, " + Fixed(held->TextPerLine, 1),
                   Ratio(held->PerLine, held->TextPerLine)});
    }
    table.Print();
}

// ---- 7. Resident memory of the monitor under a burst ------------------------------

// The load of a user's busy modems: four ports at 115200 baud in full duplex,
// in 64-byte runs, generated by the stand-in inside quorvel-emu.exe.
constexpr int kBurstPorts = 4;
constexpr char kBurstGen[] = "gen rate=23040 run=64";
constexpr double kGrownPerLineLimit = 300;

std::string BurstSettings() {
    std::string settings = "/s=";
    for (int port = 1; port <= kBurstPorts; ++port) {
        settings += (port > 1 ? ";port COM" : "port COM") + std::to_string(port) + ";" + kBurstGen;
    }
    return settings;
}

void BurstMemoryTable() {
    std::vector<double> at;
    for (int s = 10; s <= 90; s += 10) at.push_back(s);
    ResidentRun run = ResidentUnderTraffic(BurstSettings(), kBurstPorts, at);
    ResultsTable table("7. Resident memory of quorvel-emu.exe under " + std::to_string(kBurstPorts) + " ports x `" +
                           kBurstGen + "`, read from outside the process",
                       {"s", "resident MB", "lines held", "grown per line held, bytes", "/ limit of " +
                        Fixed(kGrownPerLineLimit, 0) + " bytes"});
    table.Row({"0", Fixed(run.Start.Resident / 1048576.0, 1), std::to_string(run.Start.Lines), "-", "-"});
    for (const ResidentSample& sample : run.Samples) {
        double grown = ResidentRun::GrownPerLine(run.Start, sample);
        table.Row({Fixed(sample.Seconds, 0), Fixed(sample.Resident / 1048576.0, 1), std::to_string(sample.Lines),
                   Fixed(grown, 1), Fixed(grown / kGrownPerLineLimit, 3)});
    }
    table.Print(std::string(run.Complete ? "" : "The run did not complete (the program did not start or stopped "
                                                "answering). ") +
                "Resident: the working set of the process, read with GetProcessMemoryInfo from the benchmark; "
                "0 s is when every pane first showed lines. Grown per line held: the growth since then over the "
                "lines held since then. This table is of the " + (sizeof(void*) == 8 ? "x86_64" : "i686") +
                " build; each build's figures come from a run of that build.");
}

// ---- The soak ---------------------------------------------------------------------

int Soak(HWND main, const Options& options) {
    constexpr int kPorts = 4;
    ResultsTable table("Soak: " + std::to_string(kPorts) + " ports x 115200 baud full duplex, 64-byte runs, " +
                           Fixed(options.SoakSeconds, 0) + " s",
                       {"s", "dropped records", "lines held", "commit at the start, MB",
                        "with the lines held, MB", "grown per line held, bytes", "after the panes are freed, MB",
                        "kept per line, bytes", "resident at the start, MB", "with the lines held, MB",
                        "grown per line held, bytes", "/ limit of " + Fixed(kGrownPerLineLimit, 0) + " bytes"});
    uint64_t before = CommittedBytes();
    uint64_t residentBefore = ResidentBytes();
    Load load = Feed(main, kPorts, kShortRuns, kRate115200, options.SoakSeconds);
    uint64_t after = CommittedBytes();
    const FeedFigures& f = load.Figures;
    auto perLine = [&](uint64_t at, uint64_t from) {
        return f.Lines ? (static_cast<double>(at) - static_cast<double>(from)) / static_cast<double>(f.Lines) : 0;
    };
    double residentPerLine = perLine(f.ResidentWithLines, residentBefore);
    table.Row({Fixed(f.Seconds, 0), std::to_string(f.DroppedAll()), std::to_string(f.Lines),
               Fixed(before / 1048576.0, 1), Fixed(f.CommittedWithLines / 1048576.0, 1),
               Fixed(perLine(f.CommittedWithLines, before), 1), Fixed(after / 1048576.0, 1),
               Fixed(perLine(after, before), 1), Fixed(residentBefore / 1048576.0, 1),
               Fixed(f.ResidentWithLines / 1048576.0, 1), Fixed(residentPerLine, 1),
               Fixed(residentPerLine / kGrownPerLineLimit, 3)});
    table.Print("Commit: the process's private bytes. Grown per line: the growth with the panes still holding "
                "their lines, over those lines; kept per line: what stays once the panes are freed. Resident: "
                "the process's working set, the same figure as table 7 of `make bench` reads from outside the "
                "monitor; at most " + Fixed(kGrownPerLineLimit, 0) + " bytes grown per line held.");
    if (f.DroppedAll() != 0) return 2;
    return residentPerLine <= kGrownPerLineLimit ? 0 : 3;
}

// The tables of real lines: the tap against socat, the tap's capture, the
// watch with the monitor.
void RealLineTables(HWND main, const Options& options) {
    auto asked = [&](int question) { return options.Only == 0 || options.Only == question; };
    if (asked(8)) SerialLineTable(main, options.ConfirmSeconds / 2);
    if (asked(9)) CaptureFileTable();
    if (asked(10)) WatchLineTable(main, options.ConfirmSeconds / 2);
}

}  // namespace

// The loads whose runs are timed (table 3) and whose posted messages are
// (table 4): the targets' loads, the search's confirming runs, a rack.
template <typename Asked>
std::vector<Load> TimedLoads(HWND main, const Options& options, const Limits& limits, Asked asked) {
    std::vector<Load> timed;
    if (asked(2) || asked(3) || asked(4)) {
        timed.push_back(Feed(main, 4, kShortRuns, kRate115200, options.ConfirmSeconds));
        timed.push_back(Feed(main, 1, kShortRuns, kRate921600, options.ConfirmSeconds));
    }
    if (asked(2)) MostPortsTable(main, options, limits, timed);
    if (asked(4)) timed.push_back(Feed(main, kRackPorts, kShortRuns, kRate115200, options.ConfirmSeconds));
    // The search's last run is the row at the faster rate; without it, the same load.
    if (asked(4) && !asked(2)) timed.push_back(Feed(main, options.MostPorts, kShortRuns, kRate921600, options.ConfirmSeconds));
    return timed;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kBareWindowOption) == 0) return RunBareWindow();
    Options options = ParseOptions(argc, argv);
    double benchStart = Now();
    quorvel::StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND main = CreateMainWindow();
    quorvel::UseWindowCapturePane();
    if (!main || !quorvel::StopEvent || !quorvel::StartLineIntake()) {
        std::fprintf(stderr, "capture_bench: no main window (is there a display?)\n");
        return 1;
    }
    OpenResultsFile(options.Results);
    Note("Capture benchmark (Wine " + std::string(WineVersion()) + ", " +
         (sizeof(void*) == 8 ? "x86_64" : "i686") + " build). Main window " + std::to_string(kClientWidth) +
         "x" + std::to_string(kClientHeight) + " client; the panes are stacked below a " +
         std::to_string(kEditStrip) + "-pixel strip and the main thread serves every pane.");

    int status = 0;
    if (options.SoakSeconds > 0) {
        status = Soak(main, options);
    } else {
        Limits limits = MeasureLimits(main, options);
        if (options.LimitsOnly) return 0;
        auto asked = [&](int question) { return options.Only == 0 || options.Only == question; };
        std::vector<Load> loads;
        if (asked(1)) DrainTable(main, options, limits, loads);
        std::vector<Load> timed = TimedLoads(main, options, limits, asked);
        if (!timed.empty()) DelayTable(timed, limits);
        loads.insert(loads.end(), timed.begin(), timed.end());
        if (!loads.empty()) AnswerTable(loads, limits);
        if (asked(5)) StartupTable(limits);
        if (asked(6)) MemoryTable(main, options);
        if (asked(7)) BurstMemoryTable();
        RealLineTables(main, options);
    }

    quorvel::StopLineIntake();
    DestroyMainWindow(main);
    quorvel::DeleteFlashBrushes();
    CloseHandle(quorvel::StopEvent);
    Note("capture_bench: done in " + Fixed(Now() - benchStart, 0) + " s");
    CloseResultsFile();
    return status;
}
