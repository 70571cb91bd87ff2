// The user who called the watch through sudo. Only the watch needs root;
// the monitor (Wine) runs as that user, with the feed's folder theirs and
// private, never as root. Without sudo, or not as root, there is none.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tap/tap_folder.h"

namespace watch {

struct CallingUser {
    bool Present = false;
    uid_t Uid = 0;
    gid_t Gid = 0;
    std::string Home;
};

// Read from SUDO_UID and SUDO_GID (numbers, not 0) while running as root.
CallingUser FindCallingUser();

// Where the watch's folder goes for the user: in their runtime folder
// (/run/user/UID, when it is theirs alone), else in /tmp.
std::string FolderFor(const CallingUser& user);

// Gives the folder and its FIFOs to the user (through the folder's
// descriptor: nothing is followed); false when the kernel refuses.
bool HandOver(const tap::TapFolder& folder, const CallingUser& user);

// The command that runs program as the user, with their groups.
std::vector<std::string> AsUser(const CallingUser& user, const std::vector<std::string>& command);

}  // namespace watch
