#include "tap/tap_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "emulator/formats/tap_feed_records.h"

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
bool RuntimeBase(std::string* base, std::string* why) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && PrivateFolder(runtime)) {
        *base = runtime;
        return true;
    }
    *base = "/tmp/quorvel-tap-" + std::to_string(getuid());
    mkdir(base->c_str(), S_IRWXU);
    if (PrivateFolder(*base)) return true;
    *why = *base + ": not a folder of this user's alone (and $XDG_RUNTIME_DIR is not set)";
    return false;
}

int OpenFifo(const std::string& path) {
    if (mkfifo(path.c_str(), S_IRUSR | S_IWUSR) != 0) return -1;
    // Read and write: opening never waits for the other side, and the tap's
    // writes never meet a FIFO without a reader.
    return open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

}  // namespace

bool MakeTapFolder(const std::string& requested, TapFolder* folder, std::string* why) {
    std::string path = requested;
    if (path.empty()) {
        std::string base;
        if (!RuntimeBase(&base, why)) return false;
        path = base + "/quorvel-tap-" + std::to_string(getpid());
    }
    if (path.find_first_of(" \t;") != std::string::npos) {
        *why = path + ": the folder's path may hold no blank and no ';'";
        return false;
    }
    if (mkdir(path.c_str(), S_IRWXU) != 0) {
        *why = path + ": " + std::strerror(errno);
        return false;
    }
    chmod(path.c_str(), S_IRWXU);  // whatever the umask
    folder->Path = path;
    folder->Feed = OpenFifo(path + "/" + tapfeed::kFeedName);
    folder->Commands = OpenFifo(path + "/" + tapfeed::kCommandsName);
    if (folder->Feed < 0 || folder->Commands < 0) {
        *why = path + ": its FIFOs: " + std::strerror(errno);
        RemoveTapFolder(folder);
        return false;
    }
    fcntl(folder->Feed, F_SETPIPE_SZ, kFeedPipeBytes);  // best effort: more room before records go
    return true;
}

void RemoveTapFolder(TapFolder* folder) {
    if (folder->Feed >= 0) close(folder->Feed);
    if (folder->Commands >= 0) close(folder->Commands);
    folder->Feed = folder->Commands = -1;
    if (folder->Path.empty()) return;
    unlink((folder->Path + "/" + tapfeed::kFeedName).c_str());
    unlink((folder->Path + "/" + tapfeed::kCommandsName).c_str());
    unlink((folder->Path + "/app").c_str());
    rmdir(folder->Path.c_str());
    folder->Path.clear();
}

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') c = '\\';
    }
    return windows;
}

}  // namespace tap
