#include "app/options.h"

#include <cstring>

namespace quorvel {

Options ParseOptions(const char* commandLine) {
    Options options;
    if (!commandLine) return options;
    if (std::strstr(commandLine, "/f")) options.PersistentFlag = 0;
    if (std::strstr(commandLine, "/k")) {
        options.PersistentFlag = 1;
        options.KeepRequested = true;
    }
    if (const char* settings = std::strstr(commandLine, "/s=")) options.SettingsText = settings + 3;
    options.Uninstall = std::strstr(commandLine, "/d") != nullptr;
    return options;
}

}  // namespace quorvel
