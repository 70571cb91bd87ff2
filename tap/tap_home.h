// Where quorvel-tap finds the monitor, its scripts and the simulated modem,
// and where the Wine prefix and the screenshot go: beside it in a build
// folder (build/linux/quorvel-tap, the prefix in the build folder), or as
// `make install` put it (PREFIX/bin/quorvel-tap, its files in
// PREFIX/lib/quorvel, the prefix under the user's data folder,
// $XDG_DATA_HOME/quorvel, by default ~/.local/share/quorvel). $WINEPREFIX,
// when set, is the prefix in either case.
#pragma once

#include <string>

namespace tap {

struct TapHome {
    std::string Monitor;     // the folder of quorvel-emu.exe: the scripts' BUILD_DIR
    std::string Scripts;     // tap-monitor.sh, ensure-prefix.sh and what they use
    std::string Modem;       // quorvel-pty-modem
    std::string WinePrefix;
    std::string Screenshot;  // where the monitor's picture goes when it ran on a virtual display
};

TapHome FindTapHome();

}  // namespace tap
