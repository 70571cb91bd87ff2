// The capture benchmark: how fast the program's capture thread turns a full
// capture ring into pane lines, how many records the stand-in drops when it
// feeds ports at the line rate of a 921600-baud port, and the limits of the
// list box and of cross-thread calls that bound both, measured in the same
// run.
//
//   capture_bench [--cap=SECONDS] [--feed=SECONDS] [--quick] [--no-feed]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_clock.h"
#include "bench/bench_windows.h"
#include "bench/capture_rig.h"
#include "bench/list_box_probes.h"
#include "bench/traffic_shapes.h"
#include "driver/stop_event.h"
#include "port/flash_brushes.h"

namespace {

using namespace bench;

struct Options {
    double DrainCapSeconds = 5;   // longest a drain is followed
    double FeedSeconds = 10;      // how long the feeder runs
    double ProbeSeconds = 2;
    bool Feed = true;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strncmp(argument, "--cap=", 6) == 0) options.DrainCapSeconds = std::atof(argument + 6);
        else if (std::strncmp(argument, "--feed=", 7) == 0) options.FeedSeconds = std::atof(argument + 7);
        else if (std::strcmp(argument, "--quick") == 0) {
            options.DrainCapSeconds = 3;
            options.FeedSeconds = 3;
            options.ProbeSeconds = 1;
        } else if (std::strcmp(argument, "--no-feed") == 0) options.Feed = false;
        else std::fprintf(stderr, "capture_bench: unknown option %s\n", argument);
    }
    return options;
}

const char* WineVersion() {
    using Version = const char*(CDECL*)();
    auto version = reinterpret_cast<Version>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    return version ? version() : "not Wine";
}

void Rule() {
    std::printf("%s\n", std::string(118, '-').c_str());
}

// ---- Reference limits ------------------------------------------------------

struct Limits {
    double HiddenOwn = 0, VisibleOwn = 0, VisibleCross = 0, NullCross = 0, SuspendedCross = 0;
};

void PrintProbe(const char* name, const ProbeResult& result) {
    double perCall = result.Count ? result.Seconds * 1e6 / result.Count : 0;
    std::printf("  %-72s %9u %7.2f %11.0f %10.1f\n", name, result.Count, result.Seconds,
                result.PerSecond(), perCall);
    std::fflush(stdout);
}

Limits MeasureLimits(HWND main, const Options& options) {
    std::printf("\n1. Reference limits (small probes, not the program; 64-byte lines, pane-styled list box)\n");
    Rule();
    std::printf("  %-72s %9s %7s %11s %10s\n", "probe", "calls", "s", "per second", "us/call");
    Limits limits;
    ProbeResult r = HiddenOwnThreadAdds(main, 100000);
    PrintProbe("LB_ADDSTRING, hidden list box, its own thread", r);
    limits.HiddenOwn = r.PerSecond();
    r = VisibleOwnThreadAdds(main, options.ProbeSeconds);
    PrintProbe("LB_ADDSTRING, visible list box, its own thread", r);
    limits.VisibleOwn = r.PerSecond();
    r = VisibleCrossThreadAdds(main, options.ProbeSeconds);
    PrintProbe("LB_ADDSTRING, visible list box, from another thread", r);
    limits.VisibleCross = r.PerSecond();
    r = CrossThreadNullSends(main, options.ProbeSeconds);
    PrintProbe("bare cross-thread SendMessage (WM_NULL)", r);
    limits.NullCross = r.PerSecond();
    r = VisibleCrossThreadSuspendedAdds(main, options.ProbeSeconds, 1000);
    PrintProbe("LB_ADDSTRING, visible, other thread, redraw off around bursts of 1000", r);
    limits.SuspendedCross = r.PerSecond();
    r = VisibleCrossThreadSuspendedAdds(main, options.ProbeSeconds, 20);
    PrintProbe("LB_ADDSTRING, visible, other thread, redraw off around bursts of 20", r);
    Rule();
    return limits;
}

// ---- The measured cases ----------------------------------------------------

constexpr int kPortCounts[] = {1, 4};

// Every shape with every port count, in the order of the tables' rows.
template <typename Measure>
void ForEachCase(Measure measure) {
    for (const TrafficShape& shape : kShapes) {
        for (int ports : kPortCounts) measure(shape, ports);
    }
}

// ---- Draining a full ring --------------------------------------------------

void PrintDrainRow(const TrafficShape& shape, const DrainFigures& f) {
    double rate = f.RecordsPerSecond();
    double perPort = f.Ports ? rate / f.Ports : 0;
    double fullDrain = rate > 0 ? (99999.0 * f.Ports) / rate : 0;
    char lines[32];
    std::snprintf(lines, sizeof lines, "%llu/%llu", static_cast<unsigned long long>(f.Lines),
                  static_cast<unsigned long long>(f.ExpectedLines) * f.Ports);
    char drain[32];
    if (f.Complete) std::snprintf(drain, sizeof drain, "%.2f", f.Seconds);
    else std::snprintf(drain, sizeof drain, "~%.0f (est.)", fullDrain);
    char postWait[32];
    if (f.PostWait >= 0) std::snprintf(postWait, sizeof postWait, "%.3f", f.PostWait);
    else std::snprintf(postWait, sizeof postWait, ">%.2f", f.Seconds);
    std::printf("  %-15s %5d %15s %9llu %6.2f %10.0f %9.0f %7.4f %12s %6llu %9s\n", shape.Name, f.Ports,
                lines, static_cast<unsigned long long>(f.Records), f.Seconds, rate, perPort,
                perPort / static_cast<double>(kLineBytesPerSecond), drain,
                static_cast<unsigned long long>(f.Paints), postWait);
    std::fflush(stdout);
}

void MeasureDrains(HWND main, const Options& options, const Limits& limits) {
    std::printf("\n2. Draining a full ring (99999 records per port, all pending when the data wait completes) "
                "into visible panes;\n   timed from the completion to the last line, followed for at most "
                "%.0f s (then the full drain is estimated from the rate)\n", options.DrainCapSeconds);
    Rule();
    std::printf("  %-15s %5s %15s %9s %6s %10s %9s %7s %12s %6s %9s\n", "shape", "ports", "lines/expected",
                "records", "s", "records/s", "per port", "x line", "full drain s", "paints", "post wait");
    ForEachCase([&](const TrafficShape& shape, int ports) {
        PrintDrainRow(shape, MeasureDrain(main, ports, shape, options.DrainCapSeconds));
    });
    Rule();
    std::printf("  Every run gives 2 lines (its timing line and its run line). records/s: records taken from the "
                "rings, all ports;\n  x line: per port, as a share of 184320 bytes/s; full drain: measured, or "
                "estimated from the rate when the cap\n  ended the measurement; paints: WM_PAINT the panes got "
                "with redraw on; post wait: how long a message\n  posted to the main window at the start waited "
                "for the main thread ('>' = still waiting at the end).\n  Lines/s of the probes above, for "
                "reference: visible cross-thread %.0f, bare SendMessage %.0f,\n  redraw off (bursts of 1000) "
                "%.0f, hidden own thread %.0f.\n", limits.VisibleCross, limits.NullCross,
                limits.SuspendedCross, limits.HiddenOwn);
}

// ---- Feeding at line rate ----------------------------------------------------

void PrintFeedRow(const TrafficShape& shape, const FeedFigures& f) {
    if (f.Offered.empty()) return;
    std::string dropped;
    uint32_t behind = 0;
    uint64_t droppedAll = 0, offeredAll = 0;
    for (size_t i = 0; i < f.Dropped.size(); ++i) {
        if (i) dropped += " ";
        dropped += std::to_string(f.Dropped[i]);
        if (f.Pending[i] > behind) behind = f.Pending[i];
        droppedAll += f.Dropped[i];
        offeredAll += f.Offered[i];
    }
    double perPort = f.Seconds > 0 ? f.Drained() / f.Seconds / f.Ports : 0;
    std::printf("  %-15s %5d %9llu %-31s %9.1f %6u %7.2f %10.0f %7.4f %6llu %6llu\n", shape.Name, f.Ports,
                static_cast<unsigned long long>(f.Offered[0]), dropped.c_str(),
                offeredAll ? 100.0 * droppedAll / offeredAll : 0.0, behind,
                behind / static_cast<double>(kLineBytesPerSecond), perPort,
                perPort / static_cast<double>(kLineBytesPerSecond),
                static_cast<unsigned long long>(f.Lines), static_cast<unsigned long long>(f.Paints));
    std::fflush(stdout);
}

void MeasureFeeds(HWND main, const Options& options) {
    std::printf("\n3. Feeding every port at %llu bytes/s for %.0f s (every 10 ms; the shape's runs, alternating "
                "direction);\n   dropped = the stand-in's count of records that found the ring full; behind = "
                "most records still pending\n   in a ring at the end, and the traffic time they stand for; "
                "drained/s and x line: per port\n",
                static_cast<unsigned long long>(kLineBytesPerSecond), options.FeedSeconds);
    Rule();
    std::printf("  %-15s %5s %9s %-31s %9s %6s %7s %10s %7s %6s %6s\n", "shape", "ports", "offered",
                "dropped per port", "dropped %", "behind", "s late", "drained/s", "x line", "lines", "paints");
    ForEachCase([&](const TrafficShape& shape, int ports) {
        PrintFeedRow(shape, MeasureFeed(main, ports, shape, options.FeedSeconds));
    });
    Rule();
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    double benchStart = Now();
    quorvel::StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND main = CreateMainWindow();
    if (!main || !quorvel::StopEvent) {
        std::fprintf(stderr, "capture_bench: no main window (is there a display?)\n");
        return 1;
    }
    std::printf("Capture benchmark (Wine %s); line rate of a 921600-baud port in full duplex: %llu bytes/s "
                "(%llu each way)\n",
                WineVersion(), static_cast<unsigned long long>(kLineBytesPerSecond),
                static_cast<unsigned long long>(kBytesPerSecondEachWay));
    std::printf("Main window %dx%d client, panes stacked below a %d-pixel strip; the main thread serves "
                "every pane.\n", kClientWidth, kClientHeight, kEditStrip);
    std::fflush(stdout);

    Limits limits = MeasureLimits(main, options);
    MeasureDrains(main, options, limits);
    if (options.Feed) MeasureFeeds(main, options);

    DestroyMainWindow(main);
    quorvel::DeleteFlashBrushes();
    CloseHandle(quorvel::StopEvent);
    std::printf("\ncapture_bench: done in %.0f s\n", Now() - benchStart);
    return 0;
}
