// The tap's private folder: where its feed and command FIFOs live, and the
// default link to the application's side. It is the user's alone (mode
// 0700, under $XDG_RUNTIME_DIR, which is the user's alone too), so no other
// user can read the line's traffic from the feed or drive the line through
// the commands. Made at the start, removed at the end with what is in it.
#pragma once

#include <string>

namespace tap {

struct TapFolder {
    std::string Path;
    int Feed = -1;      // written by the tap, non-blocking
    int Commands = -1;  // read by the tap, non-blocking
};

// Makes the folder: at requested (which must not exist yet), or else a new
// one in $XDG_RUNTIME_DIR (or, without one, in a folder of the user's own
// under /tmp), with its two FIFOs. False with *why; nothing is left then.
bool MakeTapFolder(const std::string& requested, TapFolder* folder, std::string* why);
void RemoveTapFolder(TapFolder* folder);

// The folder as Wine names it (Z: is the root): backslashes, no slash.
std::string WindowsPath(const std::string& path);

}  // namespace tap
