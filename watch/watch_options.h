// quorvel-watch's command line: what the user asked for, or the one line
// that says which argument is wrong. Pure code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace watch {

struct WatchOptions {
    bool Help = false;
    std::vector<std::string> Devices;  // empty: every serial device of the machine
    uint32_t Process = 0;              // --pid: only this process (0: every one)
    std::string Program;               // --program: only programs of this name (the kernel's, 15 characters at most)
    bool Monitor = true;               // false with --no-monitor
    std::string Capture;               // --capture: the session's pcap file
    double FrameGapMs = 0;             // --frame-gap: 0, three and a half characters at the line's speed
    std::string Folder;                // --folder: the watch's private folder
};

bool ParseWatchOptions(const std::vector<std::string>& arguments, WatchOptions* options, std::string* error);

const char* WatchUsage();

}  // namespace watch
