#include "bench/serial_line_bench.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/capture_rig.h"
#include "bench/results_table.h"
#include "emulator/test_control.h"
#include "support/serial_lines.h"

namespace bench {
namespace {

// What serial_peer wrote: its numbers, or nothing when it did not finish.
struct PeerFigures {
    bool Done = false;
    double Values[3] = {};
};

PeerFigures RunPeer(testsupport::LineLab& lab, const std::string& arguments, const std::string& out, DWORD ms) {
    PeerFigures figures;
    if (!lab.StartPeer("unused", arguments, out)) return figures;
    figures.Done = lab.WaitPeer(out, ms) == "ok";
    std::string text = lab.ReadFile(out);
    std::sscanf(text.c_str(), "%lf %lf %lf", &figures.Values[0], &figures.Values[1], &figures.Values[2]);
    return figures;
}

// The two lines through which the client reaches the server, as serial_peer's
// arguments: the tap (client ↔ pty pair ↔ the stand-in's relay ↔ pty pair ↔
// server) and the same with socat as the relay.
struct Lines {
    std::string Tap, Direct;
};

bool BuildLines(testsupport::LineLab& lab, Lines* lines) {
    bool made = lab.StartPair("app") && lab.StartPair("dev") && lab.MapPort("COM70", "app.b") &&
                lab.MapPort("COM71", "dev.a") && lab.StartPair("app2") && lab.StartPair("dev2") &&
                lab.Run("socat " + lab.Path("app2.b") + ",raw,echo=0 " + lab.Path("dev2.a") +
                        ",raw,echo=0 </dev/null >/dev/null 2>&1 &\necho $! > " + lab.Path("middle.pid"));
    auto between = [&](const char* client, const char* server) {
        return " --client " + lab.Path(client) + " --server " + lab.Path(server);
    };
    lines->Tap = between("app.a", "dev.b");
    lines->Direct = between("app2.a", "dev2.b");
    return made;
}

// The tap's two ends send each other the pattern at 921600 baud in 64-byte
// runs, 92160 bytes a second each way, for `seconds`; whether all came intact.
bool PacedRunIntact(testsupport::LineLab& lab, double seconds) {
    constexpr double kLineRate = 92160;
    std::string bytes = std::to_string(static_cast<long>(kLineRate * seconds));
    std::string paced = " --rate 92160 --chunk 64 --timeout-ms " + std::to_string(static_cast<long>(seconds * 1000 + 30000));
    bool started = lab.StartPeer("dev.b", "--pattern " + bytes + ":2 --check 1 --expect " + bytes + paced, "paced-dev") &&
                   lab.StartPeer("app.a", "--pattern " + bytes + ":1 --check 2 --expect " + bytes + paced, "paced-app");
    DWORD ms = static_cast<DWORD>(seconds * 1000 + 40000);
    return started && lab.WaitPeer("paced-dev", ms) == "ok " + bytes && lab.WaitPeer("paced-app", ms) == "ok " + bytes;
}

}  // namespace

void SerialLineTable(HWND main, double pacedSeconds) {
    testsupport::LineLab lab;
    Lines lines;
    CaptureRig rig;
    if (!lab.Ready() || !BuildLines(lab, &lines) || !rig.StartScenario(main, "tap COM71 COM70 baud=921600", 1)) {
        Note("8. Real serial lines: not measured (socat, serial_peer or the tap's port missing)");
        return;
    }
    uint32_t key = rig.Ports().front().Key;

    constexpr int kExchanges = 2000;
    std::string latency = "--latency " + std::to_string(kExchanges);
    PeerFigures tapLatency = RunPeer(lab, latency + lines.Tap, "tap-latency", 60000);
    PeerFigures directLatency = RunPeer(lab, latency + lines.Direct, "direct-latency", 60000);

    constexpr double kBulk = 8 << 20;
    std::string bulk = "--throughput " + std::to_string(static_cast<long>(kBulk));
    uint64_t droppedBefore = emu::control::DroppedRecords(key);
    PeerFigures tapBulk = RunPeer(lab, bulk + lines.Tap, "tap-bulk", 130000);
    uint64_t bulkDropped = emu::control::DroppedRecords(key) - droppedBefore;
    PeerFigures directBulk = RunPeer(lab, bulk + lines.Direct, "direct-bulk", 130000);
    auto rate = [&](const PeerFigures& f) { return f.Values[1] > 0 ? f.Values[0] / f.Values[1] / 1e6 : 0.0; };

    droppedBefore = emu::control::DroppedRecords(key);
    bool pacedIntact = PacedRunIntact(lab, pacedSeconds);
    uint64_t pacedDropped = emu::control::DroppedRecords(key) - droppedBefore;

    ResultsTable table("8. Real serial lines: the tap against socat as the relay, on pty pairs",
                       {"figure", "tap", "socat in its place", "tap - socat, or tap / socat", "target"});
    auto us = [](const PeerFigures& f) { return f.Done ? Fixed(f.Values[1] / 1000, 3) : "-"; };
    auto p99 = [](const PeerFigures& f) { return f.Done ? Fixed(f.Values[2] / 1000, 3) : "-"; };
    table.Row({"\"AT\\r\" and \"\\r\\nOK\\r\\n\", median ms (" + std::to_string(kExchanges) + " exchanges)",
               us(tapLatency), us(directLatency), Fixed((tapLatency.Values[1] - directLatency.Values[1]) / 1000, 3),
               "added at most 1"});
    table.Row({"the same, 99th percentile ms", p99(tapLatency), p99(directLatency),
               Fixed((tapLatency.Values[2] - directLatency.Values[2]) / 1000, 3), "added at most 10"});
    table.Row({"8 MiB one way, unpaced, MB/s", Fixed(rate(tapBulk), 2), Fixed(rate(directBulk), 2),
               rate(directBulk) > 0 ? Fixed(rate(tapBulk) / rate(directBulk), 3) : "-", "share at least 0.5"});
    table.Row({"  passed intact", tapBulk.Values[2] == 1 ? "yes" : "NO", directBulk.Values[2] == 1 ? "yes" : "NO",
               "", "yes"});
    table.Row({"  records dropped (ring full)", std::to_string(bulkDropped) + " (" +
               Fixed(100.0 * static_cast<double>(bulkDropped) / kBulk, 1) + " %)", "", "", "reported"});
    table.Row({"921600 baud both ways, 64-byte runs, " + Fixed(pacedSeconds, 0) + " s: passed intact",
               pacedIntact ? "yes" : "NO", "", "", "yes"});
    table.Row({"  records dropped", std::to_string(pacedDropped), "", "", "0"});
    table.Print("The same Linux program (serial_peer) measures both lines in the same run: the tap's line runs "
                "through the stand-in's relay in this process, whose pane shows every byte; the other has socat "
                "relaying between the same kind of pty pairs. Latency: one exchange at a time, from writing the "
                "command to reading the whole answer.");
}

}  // namespace bench
