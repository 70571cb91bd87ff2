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

bool PacedBothWaysIntact(testsupport::LineLab& lab, const std::string& app, const std::string& device, long bytes,
                         DWORD waitMs) {
    std::string count = std::to_string(bytes);
    std::string paced = " --rate 92160 --chunk 64 --timeout-ms " + std::to_string(waitMs - 10000);
    // The device's bytes are passed only to an open application side: the
    // device's end starts once the application's has its line open.
    return lab.StartPeer(app, "--pattern " + count + ":1 --check 2 --expect " + count + paced + " --ready " +
                                  lab.Path("paced-app.ready"), "paced-app") &&
           lab.WaitForFile("paced-app.ready") &&
           lab.StartPeer(device, "--pattern " + count + ":2 --check 1 --expect " + count + paced, "paced-dev") &&
           lab.WaitPeer("paced-app", waitMs) == "ok " + count && lab.WaitPeer("paced-dev", waitMs) == "ok " + count;
}

}  // namespace bench
