// The command-line options. Each is found by a case-sensitive substring
// search of the whole command-line text, wherever its letters occur, also
// inside another option's value.
#pragma once

#include <cstdint>

namespace quorvel {

struct Options {
    uint8_t PersistentFlag = 0;        // 1 with "/k" (which wins over "/f"), else 0
    const char* SettingsText = nullptr;  // the text behind the first "/s=", to the end; none without it
    bool Uninstall = false;            // "/d": the uninstall course
    bool KeepRequested = false;        // "/k" occurs
};

// Reads the options of commandLine (the text after the program's own name).
// SettingsText points into commandLine.
Options ParseOptions(const char* commandLine);

}  // namespace quorvel
