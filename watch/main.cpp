// quorvel-watch: shows in the monitor what programs write to and read from
// serial devices while they use them unchanged. BPF programs on the system
// calls (bpf_watch.h) see every call on a watched device; one loop
// (watcher.h) turns their records into the monitor's feed and the capture
// file. It ends on the monitor's end, Ctrl+C, TERM or HUP, detached and with
// nothing of its own left.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tap/capture_writer.h"
#include "tap/children.h"
#include "tap/signal_pipe.h"
#include "tap/tap_folder.h"
#include "tap/tap_home.h"
#include "watch/bpf_watch.h"
#include "watch/calling_user.h"
#include "watch/device_set.h"
#include "watch/watch_options.h"
#include "watch/watcher.h"

namespace {

using namespace watch;

constexpr int kChildEndMs = 5000;
constexpr uint32_t kRingBytes = 8 << 20;

int BadInput(const std::string& line) {
    std::fprintf(stderr, "quorvel-watch: %s\n", tap::WithControlsEscaped(line).c_str());
    return 2;
}

// What the watch lacks to attach, in words; "" when nothing.
std::string Missing() {
    std::ifstream status("/proc/self/status");
    std::string line;
    unsigned long long effective = 0;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) == 0) effective = std::strtoull(line.c_str() + 7, nullptr, 16);
    }
    constexpr unsigned long long kBpfAndPerfmon = (1ull << 39) | (1ull << 38);
    if (geteuid() != 0 && (effective & kBpfAndPerfmon) != kBpfAndPerfmon) return "needs root, or CAP_BPF and CAP_PERFMON";
    struct stat info{};
    if (stat("/sys/kernel/btf/vmlinux", &info) != 0) return "this kernel has no BTF (/sys/kernel/btf/vmlinux)";
    std::ifstream lockdown("/sys/kernel/security/lockdown");
    std::string mode;
    std::getline(lockdown, mode);
    if (mode.find("[confidentiality]") != std::string::npos) return "the kernel is locked down to confidentiality";
    return "";
}

struct Made {
    tap::TapFolder Folder;
    pid_t Monitor = -1;
};

// Starts the command, as the calling user when there is one, niceness below
// the watch: its pid.
pid_t Start(const CallingUser& user, const std::vector<std::string>& command, int niceness = 0) {
    std::vector<std::string> whole = user.Present ? AsUser(user, command) : command;
    return tap::StartChild(whole[0], std::vector<std::string>(whole.begin() + 1, whole.end()), -1, niceness);
}

void StartMonitor(const tap::TapHome& home, const CallingUser& user, Made* made) {
    std::string scenario = "watch " + tap::WindowsPath(made->Folder.Path);
    made->Monitor =
        Start(user, {"/bin/bash", home.Scripts + "/tap-monitor.sh", home.Monitor, scenario}, tap::kMonitorNice);
}

// Runs the loop until the monitor ends or a signal ends the watch; the exit code.
int RunLoop(Watcher& watcher, Made& made) {
    for (;;) {
        watcher.Run();
        int ending = tap::TakeEndingSignal();  // the first signal says how the watch ends
        if (tap::Reaped(&made.Monitor) && !ending) ending = -1;  // the window was closed: a normal end
        if (ending) {
            watcher.Finish();
            return ending < 0 ? 0 : ending;
        }
    }
}

// Makes the private folder (the calling user's, under sudo) and the Wine
// prefix; 0, or the exit code of bad input.
int SetUp(const WatchOptions& options, const tap::TapHome& home, const CallingUser& user, Made* made) {
    std::string why;
    std::string folder = options.Folder.empty() && user.Present ? FolderFor(user) : options.Folder;
    if (!tap::MakeTapFolder(folder, &made->Folder, &why)) return BadInput(why);
    if (user.Present && !HandOver(made->Folder, user)) {
        return BadInput(made->Folder.Path + ": cannot be given to the user who called sudo");
    }
    setenv("BUILD_DIR", home.Monitor.c_str(), 1);
    setenv("QUORVEL_WINEPREFIX", home.WinePrefix.c_str(), 1);
    setenv("QUORVEL_SCREENSHOT", home.Screenshot.c_str(), 1);
    int status = 0;
    pid_t prefix = options.Monitor ? Start(user, {home.Scripts + "/ensure-prefix.sh"}) : 0;
    if (prefix < 0 || (prefix > 0 && (waitpid(prefix, &status, 0) != prefix || status != 0))) {
        return BadInput("the Wine prefix " + home.WinePrefix + " could not be made");
    }
    std::printf("Feed: %s\n", made->Folder.Path.c_str());
    std::fflush(stdout);
    return 0;
}

int Attach(const WatchOptions& options, BpfWatch* kernel, DeviceSet* devices) {
    std::string why;
    if (options.Devices.empty()) AddSerialDevices(devices);
    else if (!NamedDevices(options.Devices, devices, &why)) return BadInput(why);
    WatchFilter filter;
    filter.OnlyProcess = options.Process;
    filter.OnlyProgram = options.Program;
    if (!kernel->Load(filter, kRingBytes, &why)) return BadInput(why + "; quorvel-tap needs no BPF");
    for (const auto& entry : *devices) kernel->WatchDevice(entry.first);
    if (!kernel->Attach(&why)) return BadInput(why + "; quorvel-tap needs no BPF");
    return 0;
}

int Watch(const WatchOptions& options) {
    std::string missing = Missing();
    if (!missing.empty()) return BadInput(missing + "; quorvel-tap needs neither");
    CallingUser user = FindCallingUser();
    if (user.Present && !user.Home.empty()) setenv("HOME", user.Home.c_str(), 1);  // their Wine prefix, not root's
    tap::TapHome home = tap::FindTapHome();
    tap::CaptureWriter capture;
    std::string why;
    if (!options.Capture.empty() && !capture.Open(options.Capture, &why)) return BadInput(why);
    if (user.Present && !options.Capture.empty()) capture.GiveTo(user.Uid, user.Gid);
    if (options.FrameGapMs > 0) capture.SetFixedGap(options.FrameGapMs);
    BpfWatch kernel;
    DeviceSet devices;
    Made made;
    int code = Attach(options, &kernel, &devices);
    if (!code) code = SetUp(options, home, user, &made);
    if (!code) {
        WatchConfig config;
        config.Feed = made.Folder.Feed;
        config.Stop = tap::SignalPipe();
        config.Capture = options.Capture.empty() ? nullptr : &capture;
        config.FindNewDevices = options.Devices.empty();
        Watcher watcher(config, kernel, devices);
        watcher.Start();
        std::printf("Watching %zu device%s\n", devices.size(), devices.size() == 1 ? "" : "s");
        std::fflush(stdout);
        if (options.Monitor) StartMonitor(home, user, &made);
        code = RunLoop(watcher, made);
    }
    kernel.Detach();
    if (code == 2) capture.Discard();
    capture.Close();
    tap::EndChild(made.Monitor, kChildEndMs);
    tap::RemoveTapFolder(&made.Folder);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    WatchOptions options;
    std::string error;
    if (!ParseWatchOptions(arguments, &options, &error)) return BadInput(error);
    if (options.Help) {
        std::fputs(WatchUsage(), stdout);
        return 0;
    }
    if (!tap::CatchSignals()) return BadInput(std::string("signals: ") + std::strerror(errno));
    return Watch(options);
}
