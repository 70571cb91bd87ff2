// quorvel-tap: puts the monitor on a real serial line. It owns the line (the
// device and the application's pty), relays it in one poll loop (relay.h),
// feeds the monitor through a private FIFO, and starts the monitor. It ends
// on the monitor's end, Ctrl+C, TERM or HUP, and leaves nothing of its own.
//
// The signals only write their number into a pipe that the relay watches;
// everything else happens on the one thread, in order, so a second Ctrl+C
// during the end changes nothing.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tap/application_side.h"
#include "tap/capture_writer.h"
#include "tap/children.h"
#include "tap/signal_pipe.h"
#include "tap/device_identity.h"
#include "tap/line_ops.h"
#include "tap/relay.h"
#include "tap/remote_line.h"
#include "tap/tap_folder.h"
#include "tap/tap_home.h"
#include "tap/tap_options.h"
#include "tap/tap_record.h"


namespace {

using namespace tap;

constexpr int kChildEndMs = 5000;
constexpr int kFirstCom = 42;

// One line on stderr, exit code 2; a control character in what the user
// gave (a newline in a path) shows as \xHH, so the line stays one.
int BadInput(const std::string& line) {
    std::fprintf(stderr, "quorvel-tap: %s\n", WithControlsEscaped(line).c_str());
    return 2;
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char here[PATH_MAX];
    return getcwd(here, sizeof(here)) ? std::string(here) + "/" + path : path;
}

// Opens a device the user named and gives it the settings; one line that
// says what is wrong with it otherwise.
bool OpenNamedDevice(const std::string& path, bool readOnly, const LineSettings& settings, int* fd,
                     std::string* why) {
    struct stat info{};
    if (stat(path.c_str(), &info) != 0) {
        *why = path + ": no such device";
        return false;
    }
    *fd = KernelLineOps().OpenDevice(path.c_str(), readOnly);
    if (*fd < 0 && (errno == EACCES || errno == EPERM)) {
        *why = path + ": not yours to open (is your user in its group, often dialout?)";
    } else if (*fd < 0 && errno == ENOTTY) {
        *why = path + ": not a terminal";
    } else if (*fd < 0 && errno == EBUSY) {
        *why = path + ": busy: another program has it open exclusively (another quorvel-tap?)";
    } else if (*fd < 0) {
        *why = path + ": " + std::strerror(errno);
    } else if (!KernelLineOps().ApplySettings(*fd, settings)) {
        *why = path + ": refuses " + DescribeSettings(settings);
        close(*fd);
        *fd = -1;
    }
    return *fd >= 0;
}

// A line on another machine: its name looked up, then a connection (the
// start may wait for it; a server that does not answer yet is the device
// gone, and the relay tries again) with the settings, answered.
bool OpenRemoteLine(const std::string& path, const LineSettings& settings, int* fd, std::string* why) {
    constexpr int kConnectWaitMs = 3000;
    if (!ResolveRemoteLine(path, why)) return false;
    *fd = ConnectRemoteLine(path, kConnectWaitMs);
    if (*fd < 0 && errno == ETIMEDOUT) {
        *why = path + ": says nothing of RFC 2217's COM port option (a plain TCP port, not Telnet?)";
        return false;
    }
    if (*fd >= 0 && !RemoteLineOps().ApplySettings(*fd, settings)) {
        *why = path + ": refuses " + DescribeSettings(settings) + " (or does not answer RFC 2217's settings)";
        RemoteLineOps().Close(*fd);
        *fd = -1;
        return false;
    }
    return true;
}

// Everything the tap made, so that the end removes exactly that.
struct Made {
    TapFolder Folder;
    ApplicationSide Application;
    std::string Link;      // the application side's link (--link; the default one is in the folder)
    std::string ComLink;   // its Windows port in the prefix
    int ModemMaster = -1;
    pid_t Modem = -1;
    pid_t Monitor = -1;
    int Devices[2] = {-1, -1};
};

void Clean(Made& made) {
    EndChild(made.Monitor, kChildEndMs);
    EndChild(made.Modem, kChildEndMs);
    RemoveLinkTo(made.ComLink, made.Application.SlavePath);
    RemoveLinkTo(made.Link, made.Application.SlavePath);
    for (int fd : made.Devices) RemoteLineOps().Close(fd);  // a remote line's or the kernel's
    KernelLineOps().Close(made.ModemMaster);
    CloseApplicationSide(&made.Application);
    RemoveTapFolder(&made.Folder);
}

// Claims COMn in the prefix (the first free from 42, or the one asked for):
// a link that exists already belongs to someone else.
bool ClaimComPort(const std::string& prefix, int asked, const std::string& slave, Made* made, int* com) {
    std::string devices = prefix + "/dosdevices";
    for (int n = asked ? asked : kFirstCom; n <= (asked ? asked : 255); ++n) {
        std::string link = devices + "/com" + std::to_string(n);
        if (symlink(slave.c_str(), link.c_str()) == 0) {
            made->ComLink = link;
            RecordLink(made->Folder.Record, link, slave);
            *com = n;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// Sets up the application's side: the pty, its link, its Windows port.
int SetUpApplication(const TapOptions& options, const TapHome& home, bool monitor, Made* made) {
    std::string why;
    if (!MakeApplicationSide(options.Settings, &made->Application, &why)) return BadInput(why);
    const std::string& slave = made->Application.SlavePath;
    std::string link = options.Link.empty() ? made->Folder.Path + "/app" : Absolute(options.Link);
    if (options.Link.empty() ? symlinkat(slave.c_str(), made->Folder.Dir, "app") != 0
                             : symlink(slave.c_str(), link.c_str()) != 0) {
        return BadInput((options.Link.empty() ? "" : "--link ") + link + ": " + std::strerror(errno));
    }
    if (!options.Link.empty()) {
        made->Link = link;
        RecordLink(made->Folder.Record, link, slave);
    }
    std::printf("Application side: %s\n", link.c_str());
    const std::string& prefix = home.WinePrefix;
    int com = 0;
    if (ClaimComPort(prefix, options.Com, made->Application.SlavePath, made, &com)) {
        std::printf("Windows programs: COM%d\n", com);
    } else if (options.Com) {
        return BadInput("--com " + std::to_string(options.Com) + ": COM" + std::to_string(options.Com) +
                        " is taken, or the prefix " + prefix + " has no dosdevices folder");
    } else if (monitor) {
        return BadInput(prefix + ": no free COM port for Windows programs");
    }
    return 0;
}

// Runs the relay until the monitor ends or a signal ends the tap; the exit code.
int RunRelay(const RelayConfig& config, Made& made) {
    Relay relay(config, IsRemoteLine(config.DevicePath) ? RemoteLineOps() : KernelLineOps());
    for (;;) {
        relay.Run();
        int ending = TakeEndingSignal();  // the first signal says how the tap ends
        if (Reaped(&made.Monitor) && !ending) ending = -1;  // the window was closed: a normal end
        Reaped(&made.Modem);
        if (ending) {
            relay.Finish();
            return ending < 0 ? 0 : ending;
        }
    }
}

// Opens the device(s) the user named; one line that says what is wrong otherwise.
bool OpenDevices(const TapOptions& options, RelayConfig* config, Made* made, std::string* why) {
    if (options.Sniff) {
        config->DevicePath = Absolute(options.Tx);
        config->SecondPath = Absolute(options.Rx);
        return OpenNamedDevice(config->DevicePath, true, options.Settings, &made->Devices[0], why) &&
               OpenNamedDevice(config->SecondPath, true, options.Settings, &made->Devices[1], why);
    }
    if (options.Device.empty()) return true;  // the simulated modem, once the folder is there
    if (IsRemoteLine(options.Device)) {
        config->DevicePath = options.Device;
        return OpenRemoteLine(options.Device, options.Settings, &made->Devices[0], why);
    }
    config->DevicePath = Absolute(options.Device);
    return OpenNamedDevice(config->DevicePath, false, options.Settings, &made->Devices[0], why);
}

// The simulated modem on a pty of the tap's own: its master for the modem,
// its slave the tap's device.
bool StartModem(const TapOptions& options, const TapHome& home, RelayConfig* config, Made* made,
                std::string* why) {
    if (!MakeModemPty(&made->ModemMaster, &config->DevicePath, why) ||
        !OpenNamedDevice(config->DevicePath, false, options.Settings, &made->Devices[0], why)) {
        return false;
    }
    made->Modem = StartChild(home.Modem, {"--fd", "3"}, made->ModemMaster);
    return true;
}

void StartMonitor(const TapOptions& options, const TapHome& home, const RelayConfig& config, Made* made) {
    std::string name = options.Sniff ? "SNIFF" : "COM" + made->ComLink.substr(made->ComLink.rfind("com") + 3);
    std::string friendly = options.Sniff ? "Sniff of " + config.DevicePath + " and " + config.SecondPath
                           : options.Device.empty() ? std::string("Tap of the simulated modem")
                                                    : "Tap of " + config.DevicePath;
    std::string scenario = MonitorScenario(name, WindowsPath(made->Folder.Path), friendly);
    made->Monitor =
        StartChild("/bin/bash", {home.Scripts + "/tap-monitor.sh", home.Monitor, scenario}, -1, kMonitorNice);
}

// Makes what the tap needs around the relay; 0, or the exit code of bad input.
int SetUp(const TapOptions& options, const TapHome& home, RelayConfig* config, Made* made) {
    std::string why;
    if (!OpenDevices(options, config, made, &why)) return BadInput(why);
    if (!MakeTapFolder(options.Folder.empty() ? "" : Absolute(options.Folder), &made->Folder, &why)) {
        return BadInput(options.Folder.empty() ? why : "--folder " + why);
    }
    // The scripts' prefix and screenshot are the tap's.
    setenv("BUILD_DIR", home.Monitor.c_str(), 1);
    setenv("QUORVEL_WINEPREFIX", home.WinePrefix.c_str(), 1);
    setenv("QUORVEL_SCREENSHOT", home.Screenshot.c_str(), 1);
    if (options.Monitor) {
        // The prefix is made before its COM port goes into it.
        if (std::system(("'" + home.Scripts + "/ensure-prefix.sh' >&2").c_str()) != 0) {
            return BadInput("the Wine prefix " + home.WinePrefix + " could not be made");
        }
    }
    if (!options.Sniff) {
        if (int code = SetUpApplication(options, home, options.Monitor, made)) return code;
        if (options.Device.empty() && !StartModem(options, home, config, made, &why)) return BadInput(why);
    }
    std::printf("Feed: %s\n", made->Folder.Path.c_str());
    std::fflush(stdout);
    return 0;
}

int Tap(const TapOptions& options) {
    TapHome home = FindTapHome();
    Made made;
    RelayConfig config;
    config.Sniff = options.Sniff;
    config.Settings = options.Settings;
    CaptureWriter capture;
    std::string why;
    if (!options.Capture.empty()) {
        if (!capture.Open(Absolute(options.Capture), &why)) return BadInput(why);
        capture.SetFixedGap(options.FrameGapMs);
        config.Capture = &capture;
    }
    int code = SetUp(options, home, &config, &made);
    if (!code) {
        if (options.Monitor) StartMonitor(options, home, config, &made);
        if (IsRemoteLine(config.DevicePath)) {
            config.FirstLines.push_back("[" + config.DevicePath + ": a line on another machine, over RFC 2217]");
        }
        for (const std::string& path : {config.DevicePath, config.SecondPath}) {
            struct stat info{};
            if (!path.empty() && !IsRemoteLine(path) && stat(path.c_str(), &info) == 0) {
                config.FirstLines.push_back(FirstLine(IdentifyDevice(path, info.st_rdev)));
            }
        }
        config.Device = made.Devices[0];
        config.SecondDevice = made.Devices[1];
        config.Master = made.Application.Master;
        config.ApplicationWatch = made.Application.Watch;
        config.Feed = made.Folder.Feed;
        config.Commands = made.Folder.Commands;
        config.Stop = SignalPipe();
        made.Devices[0] = made.Devices[1] = -1;  // the relay owns them now
        code = RunRelay(config, made);
    }
    if (code == 2) capture.Discard();  // no session: no file
    capture.Close();
    Clean(made);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    TapOptions options;
    std::string error;
    if (!ParseTapOptions(arguments, &options, &error)) return BadInput(error);
    if (options.Help) {
        std::fputs(TapUsage(), stdout);
        return 0;
    }
    if (!CatchSignals()) return BadInput(std::string("signals: ") + std::strerror(errno));
    return Tap(options);
}
