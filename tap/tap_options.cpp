#include "tap/tap_options.h"

#include <algorithm>
#include <cstdlib>

namespace tap {
namespace {

bool Number(const std::string& text, unsigned long most, unsigned long* value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return *value <= most;
}

}  // namespace

// A frame gap: a plain decimal (digits, at most one '.') of milliseconds,
// from 0.001 (a microsecond, the capture's resolution) to 60000.
bool ParseFrameGap(const std::string& text, double* milliseconds) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t digits = static_cast<size_t>(std::count_if(text.begin(), text.end(), digit));
    size_t dots = static_cast<size_t>(std::count(text.begin(), text.end(), '.'));
    if (digits == 0 || dots > 1 || digits + dots != text.size()) return false;
    *milliseconds = std::strtod(text.c_str(), nullptr);
    return *milliseconds >= 0.001 && *milliseconds <= 60000;
}


const char* TapUsage() {
    return "usage: quorvel-tap [--baud N] [--format 8N1] [--link PATH] [--com N] [--capture FILE [--frame-gap MS]]\n"
           "                   [--folder DIR] [--no-monitor] [DEVICE]\n"
           "       quorvel-tap --sniff TX RX [--baud N] [--format 8N1] [--capture FILE [--frame-gap MS]]\n"
           "                   [--folder DIR] [--no-monitor]\n"
           "\n"
           "Puts the monitor on a real serial line. quorvel-tap owns the line: it opens DEVICE (a tty such\n"
           "as /dev/ttyUSB0) raw, makes a pty for the application and passes every byte between them as it\n"
           "comes, while the monitor shows each one with its time. It prints the application's side\n"
           "(\"Application side: PATH\", for a Linux program such as picocom) and its port for Windows\n"
           "programs under the build's Wine prefix (\"Windows programs: COMn\"). Without DEVICE the device\n"
           "is the simulated modem. The tap holds DEVICE exclusively: one that another program holds so\n"
           "(another quorvel-tap) is refused.\n"
           "\n"
           "DEVICE may be a line on another machine, rfc2217://HOST:PORT, served by ser2net (or any RFC 2217\n"
           "server) over Telnet with the COM port option: the tap connects out to it, the settings go to\n"
           "the server and the pane shows its answers, and a connection refused or lost is the device gone,\n"
           "tried again twice a second.\n"
           "\n"
           "The line follows the application: when it changes its speed, stop bits or flow control\n"
           "(RTS/CTS, XON/XOFF), the device gets them once what was written before the change has gone.\n"
           "Data bits and parity stay as --format gives them: a pty keeps neither, so a change of them\n"
           "cannot be seen. The pane also shows the settings, the device gone and back, the application\n"
           "opening and closing its side, breaks, framing and parity errors, overruns and the modem lines.\n"
           "\n"
           "  --baud N       the speed until the application sets its own (115200)\n"
           "  --format 8N1   data bits 5 to 8, parity N, O, E, M or S, stop bits 1 or 2 (8N1)\n"
           "  --link PATH    a link to the application's side at PATH (default: in the tap's folder)\n"
           "  --com N        the Windows programs' port COMn (default: the first free from COM42)\n"
           "  --folder DIR   the tap's private folder, made here and removed at the end (default: under\n"
           "                 $XDG_RUNTIME_DIR); it holds the monitor's feed, which no other user can read\n"
           "  --capture FILE the whole session into FILE, a pcap file that Wireshark and tshark open (link\n"
           "                 type 250, RTAC serial): every byte as TX and RX frames, every event, times\n"
           "                 from the tap's clock; written as it goes, so it opens even after a crash. FILE\n"
           "                 is a new file, mode 0600: an existing file or a link there is refused\n"
           "  --frame-gap MS where a frame ends: after MS of quiet, 0.001 to 60000 (default: three and a\n"
           "                 half character times at the line's speed, so that a frame is a message of\n"
           "                 Modbus RTU and the like)\n"
           "  --no-monitor   start no monitor (headless: with --capture, a session left running in the\n"
           "                 field); a monitor started by hand can read the feed in the folder\n"
           "  --sniff TX RX  listen to a line on two read-only devices; nothing is written to either\n"
           "  --help         this text\n"
           "\n"
           "It runs until the monitor's window is closed, Ctrl+C, TERM or HUP, and leaves nothing behind.\n"
           "What a tap killed outright (SIGKILL, a crash) left, its folder and links, the next run clears.\n"
           "Exit codes: 0; 2 for bad input (one line names it); 128 + the signal's number.\n";
}

namespace {

// What the arguments say beyond the options themselves.
struct Seen {
    std::vector<std::string> Devices;
    bool LinkOrCom = false;
};

// --baud N, --format 8N1, --com N.
bool ParseSetting(const std::string& option, const std::string& text, TapOptions* options, std::string* error) {
    unsigned long number = 0;
    if (option == "--baud") {
        if (Number(text, 4000000, &number) && KnownBaud(static_cast<uint32_t>(number))) {
            options->Settings.Baud = static_cast<uint32_t>(number);
            return true;
        }
        *error = "--baud " + text + ": not a speed the line knows (such as 9600, 115200 or 921600)";
    } else if (option == "--format") {
        if (ParseFormat(text, &options->Settings.Format)) return true;
        *error = "--format " + text + ": data bits 5 to 8, parity N, O, E, M or S, stop bits 1 or 2 (such as 8N1)";
    } else {
        if (Number(text, 255, &number) && number != 0) {
            options->Com = static_cast<int>(number);
            return true;
        }
        *error = "--com " + text + ": a port number from 1 to 255";
    }
    return false;
}

// Reads the argument at *at (and its values, moving *at past them).
bool ParseOne(const std::vector<std::string>& arguments, size_t* at, TapOptions* options, Seen* seen,
              std::string* error) {
    const std::string& argument = arguments[*at];
    auto value = [&](std::string* out) {
        if (*at + 1 >= arguments.size()) {
            *error = argument + ": needs a value (see --help)";
            return false;
        }
        *out = arguments[++*at];
        return true;
    };
    std::string text;
    if (argument == "--help" || argument == "-h") {
        options->Help = true;
    } else if (argument == "--no-monitor") {
        options->Monitor = false;
    } else if (argument == "--baud" || argument == "--format" || argument == "--com") {
        seen->LinkOrCom = seen->LinkOrCom || argument == "--com";
        return value(&text) && ParseSetting(argument, text, options, error);
    } else if (argument == "--link") {
        seen->LinkOrCom = true;
        return value(&options->Link);
    } else if (argument == "--folder") {
        return value(&options->Folder);
    } else if (argument == "--capture") {
        return value(&options->Capture);
    } else if (argument == "--frame-gap") {
        if (!value(&text)) return false;
        if (!ParseFrameGap(text, &options->FrameGapMs)) {
            *error = "--frame-gap " + text + ": milliseconds as a plain decimal, from 0.001 to 60000";
            return false;
        }
    } else if (argument == "--sniff") {
        if (*at + 2 >= arguments.size()) {
            *error = "--sniff: needs two devices, TX and RX";
            return false;
        }
        options->Sniff = true;
        options->Tx = arguments[++*at];
        options->Rx = arguments[++*at];
    } else if (argument.size() > 1 && argument[0] == '-') {
        *error = argument + ": unknown option (see --help)";
        return false;
    } else {
        seen->Devices.push_back(argument);
    }
    return true;
}

}  // namespace

bool ParseTapOptions(const std::vector<std::string>& arguments, TapOptions* options, std::string* error) {
    Seen seen;
    for (size_t at = 0; at < arguments.size(); ++at) {
        if (!ParseOne(arguments, &at, options, &seen, error)) return false;
    }
    if (seen.Devices.size() > 1) {
        *error = seen.Devices[1] + ": one DEVICE only (or --sniff TX RX)";
        return false;
    }
    if (options->Sniff && !seen.Devices.empty()) {
        *error = seen.Devices[0] + ": --sniff takes its two devices and no DEVICE";
        return false;
    }
    if (options->Sniff && seen.LinkOrCom) {
        *error = "--sniff has no application side: no --link, no --com";
        return false;
    }
    if (options->Sniff && options->Tx == options->Rx) {
        *error = "--sniff " + options->Tx + " " + options->Rx + ": TX and RX are two devices";
        return false;
    }
    if (!seen.Devices.empty()) options->Device = seen.Devices[0];
    return true;
}

}  // namespace tap
