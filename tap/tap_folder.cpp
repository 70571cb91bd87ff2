#include "tap/tap_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "emulator/formats/tap_feed_records.h"
#include "tap/tap_record.h"

namespace tap {
namespace {

constexpr int kFeedPipeBytes = 1 << 20;

// A folder that is this user's alone: a real folder (no link), owned by the
// user, that nobody else can enter.
bool PrivateFolder(const std::string& path) {
    struct stat info{};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Where the tap's folders go: $XDG_RUNTIME_DIR, or /tmp/quorvel-tap-UID.
std::string RuntimeBase() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && PrivateFolder(runtime)) return runtime;
    return "/tmp/quorvel-tap-" + std::to_string(getuid());
}

// Makes the runtime folder under /tmp when it is not there yet.
bool MakeBase(const std::string& base, TapFolder* folder, std::string* why) {
    if (mkdir(base.c_str(), S_IRWXU) == 0) {
        folder->MadeBase = base;
        chmod(base.c_str(), S_IRWXU);  // whatever the umask; in /tmp nobody else can swap it
    }
    if (PrivateFolder(base)) return true;
    *why = base + ": not a folder of this user's alone (and $XDG_RUNTIME_DIR is not set)";
    return false;
}

// Makes the folder at folder->Path and opens it: 0, or the error with *why.
int MakeFolder(TapFolder* folder, std::string* why) {
    std::string parent;
    SplitPath(folder->Path, &parent, &folder->Name);
    folder->Parent = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = folder->Name.empty() ? EINVAL
                : folder->Parent < 0 || mkdirat(folder->Parent, folder->Name.c_str(), S_IRWXU) != 0 ? errno
                                                                                                     : 0;
    int dir = error ? -1 : openat(folder->Parent, folder->Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info{};
    if (!error && (dir < 0 || fstat(dir, &info) != 0 || info.st_uid != getuid())) {
        // Another user put something in its place: not the tap's to use or remove.
        *why = folder->Path + ": replaced as it was made (another user may write to its parent)";
        error = EEXIST;
    } else if (error) {
        *why = folder->Path + ": " + (folder->Name.empty() ? "names no folder" : std::strerror(error));
    }
    if (error) {
        if (dir >= 0) close(dir);
        if (folder->Parent >= 0) close(folder->Parent);
        folder->Parent = -1;
        return error;
    }
    folder->Dir = dir;
    fchmod(dir, S_IRWXU);  // whatever the umask
    return 0;
}

// The FIFO name in the folder, made mode 0600 (whatever the umask), opened
// non-blocking so that opening never waits for the other side: the feed read
// and write (the tap's writes never meet a FIFO without a reader), the
// commands read-only (a writer that goes away then shows as a hang-up).
int OpenFifo(int folder, const char* name, int access) {
    if (mkfifoat(folder, name, S_IRUSR | S_IWUSR) != 0 || fchmodat(folder, name, S_IRUSR | S_IWUSR, 0) != 0) {
        return -1;
    }
    return openat(folder, name, access | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
}

// A line end in the path would end the monitor's settings-text statement.
bool HasControl(const std::string& path) {
    auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    return std::any_of(path.begin(), path.end(), control);
}

}  // namespace

bool MakeTapFolder(const std::string& requested, TapFolder* folder, std::string* why) {
    std::string base = RuntimeBase();
    folder->Path = requested.empty() ? base + "/quorvel-tap-" + std::to_string(getpid()) : requested;
    if (folder->Path.find_first_of(" \t;") != std::string::npos || HasControl(folder->Path)) {
        *why = folder->Path + ": the folder's path may hold no blank, no ';' and no control character";
        return false;
    }
    ClearDeadTaps(base, requested);
    bool made = false;
    for (int attempt = 0; attempt < 2 && !made; ++attempt) {
        // Another tap's end may remove the empty runtime folder just before
        // this one's folder goes in: once more, then.
        if (requested.empty() && !MakeBase(base, folder, why)) return false;
        int error = MakeFolder(folder, why);
        made = !error;
        if (error != ENOENT || !requested.empty()) break;
    }
    folder->Record = made ? StartRecord(folder->Dir, folder->MadeBase) : -1;
    folder->Feed = made ? OpenFifo(folder->Dir, tapfeed::kFeedName, O_RDWR) : -1;
    folder->Commands = made ? OpenFifo(folder->Dir, tapfeed::kCommandsName, O_RDONLY) : -1;
    if (made && (folder->Record < 0 || folder->Feed < 0 || folder->Commands < 0)) {
        *why = folder->Path + ": its files: " + std::strerror(errno);
        made = false;
    }
    if (!made) {
        RemoveTapFolder(folder);
        return false;
    }
    fcntl(folder->Feed, F_SETPIPE_SZ, kFeedPipeBytes);  // best effort: more room before records go
    return true;
}

void RemoveTapFolder(TapFolder* folder) {
    for (int* fd : {&folder->Feed, &folder->Commands}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    if (folder->Dir >= 0) {
        RemoveTapFiles(folder->Dir);
        unlinkat(folder->Parent, folder->Name.c_str(), AT_REMOVEDIR);
    }
    for (int* fd : {&folder->Dir, &folder->Record, &folder->Parent}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    folder->Path.clear();
    if (!folder->MadeBase.empty()) rmdir(folder->MadeBase.c_str());  // only once empty: another tap may live in it
    folder->MadeBase.clear();
}

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') c = '\\';
    }
    return windows;
}

}  // namespace tap
