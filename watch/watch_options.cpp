#include "watch/watch_options.h"

#include <cstdlib>

#include "tap/tap_options.h"

namespace watch {

bool ParseWatchOptions(const std::vector<std::string>& arguments, WatchOptions* options, std::string* error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        bool takesValue = argument == "--pid" || argument == "--program" || argument == "--capture" ||
                          argument == "--frame-gap" || argument == "--folder";
        if (takesValue && i + 1 >= arguments.size()) {
            *error = argument + ": needs a value";
            return false;
        }
        const std::string value = takesValue ? arguments[++i] : "";
        if (argument == "--help" || argument == "-h") {
            options->Help = true;
        } else if (argument == "--no-monitor") {
            options->Monitor = false;
        } else if (argument == "--pid") {
            bool digits = !value.empty() && value.size() <= 9 && value.find_first_not_of("0123456789") == std::string::npos;
            options->Process = digits ? static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10)) : 0;
            if (!options->Process) {
                *error = "--pid " + value + ": not a process number";
                return false;
            }
        } else if (argument == "--program") {
            if (value.empty() || value.size() > 15) {
                *error = "--program " + value + ": a program's name as the kernel keeps it, 1 to 15 characters";
                return false;
            }
            options->Program = value;
        } else if (argument == "--capture") {
            options->Capture = value;
        } else if (argument == "--folder") {
            options->Folder = value;
        } else if (argument == "--frame-gap") {
            if (!tap::ParseFrameGap(value, &options->FrameGapMs)) {
                *error = "--frame-gap " + value + ": milliseconds from 0.001 to 60000";
                return false;
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            *error = argument + ": no such option (--help lists them)";
            return false;
        } else {
            options->Devices.push_back(argument);
        }
    }
    if (options->FrameGapMs > 0 && options->Capture.empty()) {
        *error = "--frame-gap: only with --capture";
        return false;
    }
    return true;
}

const char* WatchUsage() {
    return "usage: quorvel-watch [--pid PID] [--program NAME] [--capture FILE [--frame-gap MS]] [--folder DIR]\n"
           "                     [--no-monitor] [DEVICE...]\n"
           "\n"
           "Shows in the monitor every byte that programs write to and read from serial devices, while\n"
           "they use them unchanged: no pty between them, no other path to give them. Without DEVICE it\n"
           "watches every serial device of the machine (/dev/ttyS*, ttyUSB*, ttyACM*, ttyAMA*, rfcomm*, and\n"
           "what /dev/serial/by-id names, also those plugged in later); with DEVICE those only (a link,\n"
           "/dev/pts/N or a relative path: compared by device number). Each device is a port of the\n"
           "monitor from the moment a first program opens it (at once for those already open) until the\n"
           "last one closes it. The pane's first line names the device; then TX is what programs wrote,\n"
           "RX what they read, each stamped at the call, and the events: who opened and closed it, every\n"
           "settings change with what was asked and what the driver kept, modem lines, breaks, flushes,\n"
           "RS-485 settings, refused ioctls and failed calls with their errors, and what was not seen.\n"
           "\n"
           "It needs root (or CAP_BPF and CAP_PERFMON) and a kernel with BTF; quorvel-tap needs neither.\n"
           "\n"
           "  --pid PID      only this process\n"
           "  --program NAME only programs of this name (as ps shows it, 15 characters at most)\n"
           "  --capture FILE the whole session into FILE, a new pcap file (link type 250, RTAC serial), as\n"
           "                 quorvel-tap writes it; a status event names the device where the port changes\n"
           "  --frame-gap MS where a frame ends: after MS of quiet, 0.001 to 60000\n"
           "  --folder DIR   the watch's private folder for the monitor's feed (default: under\n"
           "                 $XDG_RUNTIME_DIR)\n"
           "  --no-monitor   start no monitor; a monitor started by hand can read the feed in the folder\n"
           "  --help         this text\n"
           "\n"
           "It runs until the monitor's window is closed, Ctrl+C, TERM or HUP, and leaves nothing behind;\n"
           "the kernel drops its programs with it even when it is killed.\n"
           "Exit codes: 0; 2 for bad input or what is missing (one line names it); 128 + the signal's number.\n";
}

}  // namespace watch
