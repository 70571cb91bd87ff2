// The tap's private folder: where its feed and command FIFOs live, the
// default link to the application's side, and the record of what the tap
// made (tap_record.h). It is the user's alone (mode 0700, under
// $XDG_RUNTIME_DIR, which is the user's alone too), so no other user can
// read the line's traffic from the feed or drive the line through the
// commands. Made at the start, removed at the end with what is in it.
//
// Everything in it is made and removed through the folder's descriptor, and
// the folder itself through its parent's: a folder given with --folder may
// lie where another user can write, and a path could be swapped for a link
// under the tap.
#pragma once

#include <string>

namespace tap {

struct TapFolder {
    std::string Path;
    int Feed = -1;       // written by the tap, non-blocking
    int Commands = -1;   // read by the tap, non-blocking
    int Dir = -1;        // the folder
    int Parent = -1;     // its parent, and its name there
    std::string Name;
    int Record = -1;     // what the tap made (tap_record.h)
    std::string MadeBase;  // the runtime folder under /tmp when this run made it
};

// Clears what killed taps of this user left, then makes the folder: at
// requested (which must not exist yet), or else a new one in
// $XDG_RUNTIME_DIR (or, without one, in a folder of the user's own under
// /tmp), with its two FIFOs (mode 0600) and its record. False with *why;
// nothing is left then.
bool MakeTapFolder(const std::string& requested, TapFolder* folder, std::string* why);
// Removes what is in the folder, the folder, and the runtime folder under
// /tmp when this run made it and it is empty.
void RemoveTapFolder(TapFolder* folder);

// The folder as Wine names it (Z: is the root): backslashes, no slash.
std::string WindowsPath(const std::string& path);

}  // namespace tap
