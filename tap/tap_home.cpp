#include "tap/tap_home.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#ifndef QUORVEL_SOURCE_DIR
#error "QUORVEL_SOURCE_DIR names the source folder (its scripts serve the tap in a build folder)"
#endif

namespace tap {
namespace {

bool Exists(const std::string& path) {
    struct stat info{};
    return stat(path.c_str(), &info) == 0;
}

std::string Parent(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

// The user's data folder for the tap: $XDG_DATA_HOME/quorvel.
std::string DataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/quorvel";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "/tmp") + "/.local/share/quorvel";
}

}  // namespace

TapHome FindTapHome() {
    char self[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string here = Parent(std::string(self, length > 0 ? static_cast<size_t>(length) : 0));
    TapHome home;
    std::string build = Parent(here);
    bool installed = !Exists(build + "/quorvel-emu.exe") && Exists(build + "/lib/quorvel/quorvel-emu.exe");
    if (installed) {
        home.Monitor = build + "/lib/quorvel";
        home.Scripts = home.Monitor + "/scripts";
        home.WinePrefix = DataFolder() + "/wineprefix";
        home.Screenshot = DataFolder() + "/tap-screenshot.png";
    } else {
        home.Monitor = build;
        home.Scripts = std::string(QUORVEL_SOURCE_DIR) + "/scripts";
        home.WinePrefix = build + "/wineprefix";
        home.Screenshot = build + "/tap-screenshot.png";
    }
    home.Modem = home.Monitor + "/linux/quorvel-pty-modem";
    if (const char* prefix = std::getenv("WINEPREFIX")) home.WinePrefix = prefix;
    return home;
}

}  // namespace tap
