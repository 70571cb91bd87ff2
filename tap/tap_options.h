// quorvel-tap's command line: what the user asked for, or the one line that
// says which argument is wrong. Pure code.
#pragma once

#include <string>
#include <vector>

#include "tap/line_settings.h"

namespace tap {

struct TapOptions {
    bool Help = false;
    bool Sniff = false;
    std::string Device;           // the tap's device; empty: the simulated modem
    std::string Tx, Rx;           // a sniffer's two devices
    LineSettings Settings;        // --baud and --format
    std::string Link;             // --link: where the application side's path goes
    int Com = 0;                  // --com: the Windows programs' port; 0: the first free from 42
    std::string Folder;           // --folder: the tap's private folder
    bool Monitor = true;          // false with --no-monitor
    std::string Capture;          // --capture: the session's pcap file
    double FrameGapMs = 0;        // --frame-gap: 0, three and a half characters at the line's speed
};

// Reads the arguments (without the program's name). False with *error set
// to one line that names the bad argument.
bool ParseTapOptions(const std::vector<std::string>& arguments, TapOptions* options, std::string* error);

// --frame-gap's value: a plain decimal (digits, at most one '.') of
// milliseconds, from 0.001 to 60000; false otherwise.
bool ParseFrameGap(const std::string& text, double* milliseconds);

// What --help prints.
const char* TapUsage();

}  // namespace tap
