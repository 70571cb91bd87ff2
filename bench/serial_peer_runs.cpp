#include "bench/serial_peer_runs.h"

#include <cstdio>

namespace bench {

PeerFigures RunPeer(testsupport::LineLab& lab, const std::string& arguments, const std::string& out, DWORD ms) {
    PeerFigures figures;
    if (!lab.StartPeer("unused", arguments, out)) return figures;
    figures.Done = lab.WaitPeer(out, ms) == "ok";
    std::string text = lab.ReadFile(out);
    std::sscanf(text.c_str(), "%lf %lf %lf", &figures.Values[0], &figures.Values[1], &figures.Values[2]);
    return figures;
}

double Rate(const PeerFigures& figures) { return figures.Values[1] > 0 ? figures.Values[0] / figures.Values[1] / 1e6 : 0.0; }

bool BothWaysIntact(testsupport::LineLab& lab, const std::string& app, const std::string& device, long bytes,
                    const std::string& pacing, const std::string& name, DWORD waitMs) {
    std::string count = std::to_string(bytes);
    std::string common = pacing + " --timeout-ms " + std::to_string(waitMs - 10000);
    std::string appOut = name + "-app", deviceOut = name + "-dev";
    // The device's bytes are passed only to an open application side: the
    // device's end starts once the application's has its line open.
    return lab.StartPeer(app, "--pattern " + count + ":1 --check 2 --expect " + count + common + " --ready " +
                                  lab.Path(appOut + ".ready"), appOut) &&
           lab.WaitForFile(appOut + ".ready") &&
           lab.StartPeer(device, "--pattern " + count + ":2 --check 1 --expect " + count + common, deviceOut) &&
           lab.WaitPeer(appOut, waitMs) == "ok " + count && lab.WaitPeer(deviceOut, waitMs) == "ok " + count;
}

bool PacedBothWaysIntact(testsupport::LineLab& lab, const std::string& app, const std::string& device, long bytes,
                         DWORD waitMs, const std::string& name) {
    return BothWaysIntact(lab, app, device, bytes, " --rate 92160 --chunk 64", name, waitMs);
}

}  // namespace bench
