#include "bench/watch_line_bench.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "bench/capture_rig.h"
#include "bench/results_table.h"
#include "bench/serial_line_bench.h"
#include "bench/serial_peer_runs.h"
#include "support/serial_lines.h"

namespace bench {
namespace {

constexpr long kRate = 92160;  // 921600 baud's bytes a second

// The watch's CPU seconds so far, from /proc (its pid in the lab's file).
double WatchCpuSeconds(testsupport::LineLab& lab) {
    std::string pid = lab.ReadFile("watch.out.pid"), stat, ticks;
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\r')) pid.pop_back();
    if (pid.empty() || !lab.RunProgram({"cat", "/proc/" + pid + "/stat"}, &stat) ||
        !lab.RunProgram({"getconf", "CLK_TCK"}, &ticks)) {
        return 0;
    }
    size_t at = stat.rfind(')');
    unsigned long long user = 0, system = 0;
    if (at == std::string::npos ||
        std::sscanf(stat.c_str() + at + 2, "%*c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu", &user, &system) != 2) {
        return 0;
    }
    return static_cast<double>(user + system) / std::atof(ticks.c_str());
}

struct WatchFigures {
    PaneFigures Pane;
    unsigned long NotSeen = 0;  // bytes the pane says were not seen
    double CpuShare = 0;
};

WatchFigures Measure(testsupport::LineLab& lab, const CaptureRig& rig, const BenchPort& port, double seconds) {
    WatchFigures figures;
    long bytes = static_cast<long>(kRate * seconds);
    figures.Pane = PassedAndShown(rig, port, bytes, [&] {
        double cpu = WatchCpuSeconds(lab), start = Now();
        bool intact = PacedBothWaysIntact(lab, "w.a", "w.b", bytes, static_cast<DWORD>(seconds * 1000 + 40000));
        figures.CpuShare = (WatchCpuSeconds(lab) - cpu) / (Now() - start);
        return intact;
    });
    for (const std::string& line : figures.Pane.Lines) {
        // "[N bytes not seen]" or "[N bytes not seen, M calls not seen]"; a
        // line such as "[38400 8N1]" must not count.
        unsigned long count = 0;
        int end = 0;
        if (std::sscanf(line.c_str(), "[%lu bytes not seen%n", &count, &end) == 1 && end > 0) figures.NotSeen += count;
    }
    return figures;
}

void PrintTable(const WatchFigures& f, double seconds) {
    ResultsTable table("10. quorvel-watch with the monitor: a program on a watched pty at 921600 baud both ways",
                       {"figure", "value", "target"});
    const PaneFigures& pane = f.Pane;
    table.Row({"64-byte runs both ways for " + Fixed(seconds, 0) + " s: passed intact", pane.Intact ? "yes" : "NO",
               "yes"});
    table.Row({"  bytes shown in the pane / bytes passed", Fixed(pane.ShownShare, 3), "1.000"});
    table.Row({"  the pane's bytes each way in order", pane.InOrder ? "yes" : "NO", "yes"});
    table.Row({"  bytes not seen (as the pane says); records dropped (ring full)",
               std::to_string(f.NotSeen) + "; " + std::to_string(pane.RingDropped), "0; 0"});
    table.Row({"  the watch's own CPU time, share of one core", Fixed(f.CpuShare * 100, 2) + " %", "at most 5 %"});
    table.Print("serial_peer on one end of a socat pty pair (the watched device) talks to serial_peer on the other; "
                "quorvel-watch (as root, --no-monitor) watches the first end, and this process's monitor reads its "
                "feed into a pane. The pane's bytes are counted once the monitor has taken no line for a second; "
                "the watch's CPU time is read from /proc over the run.");
}

}  // namespace

void WatchLineTable(HWND main, double pacedSeconds) {
    testsupport::LineLab lab;
    CaptureRig rig;
    std::string user;
    if (!lab.Ready() || !lab.RunProgram({"id", "-u"}, &user) || user != "0\n") {
        Note("10. quorvel-watch with the monitor: not measured (the watch needs root)");
        return;
    }
    // socat, which makes the pair, holds the watched end: its port is there from the start.
    if (!lab.StartPair("w") || !lab.StartWatch(lab.Path("w.a")) ||
        !rig.StartScenario(main, ("watch " + lab.WindowsPath("watch")).c_str(), 1)) {
        Note("10. quorvel-watch with the monitor: not measured (socat, quorvel-watch or the watched port missing)");
        return;
    }
    PrintTable(Measure(lab, rig, rig.Ports().front(), pacedSeconds), pacedSeconds);
}

}  // namespace bench
