// What a tap made outside its own files, written down in its folder, so that
// a tap that was killed (SIGKILL, a crash) leaves nothing that the next run
// of the same user cannot clear: the record ("made" in the tap's folder)
// holds the tap's pid, the runtime folder under /tmp when the tap made it,
// and each link it made (--link, its COM port in the Wine prefix) with the
// pty path the link points at. The tap holds a lock on the record for as
// long as it runs.
//
// A folder is cleared only when it is provably a dead tap's: this user's, a
// real folder, with a record whose process is gone and whose lock nobody
// holds. Of its links only those that are still links pointing where the
// record says go; of its files only the tap's own.
#pragma once

#include <string>

namespace tap {

constexpr const char* kRecordName = "made";

// Makes the record in the folder (by its descriptor), locked, with this
// process's pid and the runtime folder it made (or ""). Its descriptor, or -1.
int StartRecord(int folder, const std::string& madeBase);
// Adds a link that the tap made at path, pointing at target.
void RecordLink(int record, const std::string& path, const std::string& target);
// Removes the tap's own files from its folder: the FIFOs, the default link
// and, last, the record.
void RemoveTapFiles(int folder);

// Clears the folders of dead taps: each quorvel-tap-* folder in base, and
// the folder at requested (if not empty). A runtime folder that a dead tap
// made goes too once it is empty.
void ClearDeadTaps(const std::string& base, const std::string& requested);

// Removes the link at path if it is still a link that points at target.
void RemoveLinkTo(const std::string& path, const std::string& target);

// Splits an absolute path into its parent folder and its last name
// ("/a/b/" gives "/a" and "b"; "/" gives an empty name).
void SplitPath(const std::string& path, std::string* parent, std::string* name);

}  // namespace tap
