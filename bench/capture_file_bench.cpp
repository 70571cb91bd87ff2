#include "bench/capture_file_bench.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "bench/results_table.h"
#include "bench/serial_peer_runs.h"
#include "support/serial_lines.h"

namespace bench {
namespace {

constexpr long kBulk = 8 << 20;
constexpr long kPaced = 1 << 20;
constexpr int kBulkRuns = 10;

// Three taps without a monitor (their feeds unread alike): "plain" on the
// pair p, "capturing" on the pair c, writing bulk.pcap, and "session" on the
// pair s, writing session.pcap.
bool StartTaps(testsupport::LineLab& lab) {
    auto tap = [&](const std::string& pair, const std::string& capture, const std::string& name) {
        return lab.StartPair(pair) &&
               lab.StartTap((capture.empty() ? "" : "--capture " + lab.Path(capture) + " ") + "--link " +
                            lab.Path(pair + "-app") + " " + lab.Path(pair + ".a"), name);
    };
    return tap("p", "", "plain") && tap("c", "bulk.pcap", "capturing") && tap("s", "session.pcap", "session");
}

// MB/s of kBulk bytes from the application's side to the device's, or 0.
double Throughput(testsupport::LineLab& lab, const std::string& app, const std::string& device, const std::string& out) {
    std::string arguments = "--throughput " + std::to_string(kBulk) + " --client " + lab.Path(app) + " --server " +
                            lab.Path(device);
    PeerFigures figures = RunPeer(lab, arguments, out, 130000);
    return figures.Done && figures.Values[2] == 1 ? Rate(figures) : 0;
}

// tshark's count of the capture's frames and bytes: TX frames, TX bytes, RX
// frames, RX bytes.
bool TsharkCounts(testsupport::LineLab& lab, long counts[4]) {
    std::string fields;
    if (!lab.RunProgram({"tshark", "-r", lab.Path("session.pcap"), "-T", "fields", "-e", "rtacser.eventtype", "-e",
                         "frame.len"},
                        &fields, 60000)) {
        return false;
    }
    // A line a frame: its event and its length, of which 12 bytes are the header.
    std::istringstream lines(fields);
    for (std::string line; std::getline(lines, line);) {
        unsigned event = 0;
        long length = 0;
        if (std::sscanf(line.c_str(), "0x%x %ld", &event, &length) == 2 && (event == 1 || event == 2)) {
            ++counts[event == 1 ? 0 : 2];
            counts[event == 1 ? 1 : 3] += length - 12;
        }
    }
    return true;
}

}  // namespace

void CaptureFileTable() {
    testsupport::LineLab lab;
    if (!lab.Ready() || !StartTaps(lab)) {
        Note("9. The tap's capture: not measured (socat, serial_peer or quorvel-tap missing)");
        return;
    }
    // A run lasts about a tenth of a second and single runs scatter widely:
    // ten of each, taken in turn; the fastest and the median count.
    std::vector<double> plainRates, capturingRates;
    for (int run = 0; run < kBulkRuns; ++run) {
        plainRates.push_back(Throughput(lab, "p-app", "p.b", "plain-bulk" + std::to_string(run)));
        capturingRates.push_back(Throughput(lab, "c-app", "c.b", "capture-bulk" + std::to_string(run)));
    }
    double plain = *std::max_element(plainRates.begin(), plainRates.end());
    double capturing = *std::max_element(capturingRates.begin(), capturingRates.end());
    double plainMedian = Percentile(plainRates, 0.5), capturingMedian = Percentile(capturingRates, 0.5);
    bool intact = PacedBothWaysIntact(lab, "s-app", "s.b", kPaced, 70000);  // through the session's tap
    long counts[4] = {};
    bool counted = lab.StopTap("session") && TsharkCounts(lab, counts);
    ResultsTable table("9. The tap's capture (--capture): its cost, and tshark's count of a session",
                       {"figure", "value", "beside", "target"});
    table.Row({"8 MiB one way, unpaced, MB/s (best of " + std::to_string(kBulkRuns) + "): capturing / not",
               Fixed(capturing, 2), Fixed(plain, 2), plain > 0 ? "share " + Fixed(capturing / plain, 3) + ", at least 0.95" : "-"});
    table.Row({"  the same, median", Fixed(capturingMedian, 2), Fixed(plainMedian, 2),
               plainMedian > 0 ? "share " + Fixed(capturingMedian / plainMedian, 3) + ", reported" : "-"});
    table.Row({"1 MiB each way at 921600 baud, 64-byte runs: passed intact", intact ? "yes" : "NO", "", "yes"});
    table.Row({"  tshark: TX bytes in the file", counted ? std::to_string(counts[1]) : "-", std::to_string(kPaced) + " passed",
               "equal"});
    table.Row({"  tshark: RX bytes in the file", counted ? std::to_string(counts[3]) : "-", std::to_string(kPaced) + " passed",
               "equal"});
    table.Row({"  tshark: TX frames, RX frames", counted ? std::to_string(counts[0]) + ", " + std::to_string(counts[2]) : "-",
               "", "reported"});
    table.Print("Two taps run side by side in the same run, their feeds unread alike; one writes its capture. The "
                "megabyte goes through a third, capturing, tap, which is then ended, and tshark (Debian's) reads its "
                "file.");
}

}  // namespace bench
