#include "tap/tap_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "emulator/formats/tap_feed_records.h"

namespace tap {
namespace {

constexpr size_t kMostRecordBytes = 64 * 1024;
constexpr std::string_view kFolderPrefix = "quorvel-tap-";

// An entry of the record: three fields, each ended by a NUL (no path holds one).
struct Entry {
    std::string Kind;  // "pid", "base" or "link"
    std::string First;
    std::string Second;
};

void Append(int record, const Entry& entry) {
    std::string bytes;
    for (const std::string* field : {&entry.Kind, &entry.First, &entry.Second}) bytes.append(*field).push_back('\0');
    if (write(record, bytes.data(), bytes.size()) < 0) {
        // A record that misses an entry leaves that thing to the user, as before.
    }
}

std::vector<Entry> ReadRecord(int record) {
    std::string bytes;
    char buffer[4096];
    ssize_t count;
    while (bytes.size() < kMostRecordBytes && (count = read(record, buffer, sizeof(buffer))) > 0) {
        bytes.append(buffer, static_cast<size_t>(count));
    }
    std::vector<std::string> fields;
    for (size_t start = 0, end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
        fields.push_back(bytes.substr(start, end - start));
    }
    std::vector<Entry> entries;
    for (size_t i = 0; i + 2 < fields.size(); i += 3) entries.push_back({fields[i], fields[i + 1], fields[i + 2]});
    return entries;
}

// Whether the record's tap is provably gone: its process is gone (or has
// this process's pid, which has made no folder yet) and nobody holds the
// record's lock (which a tap in another pid namespace would).
bool Dead(int record, const std::vector<Entry>& entries) {
    pid_t pid = 0;
    for (const Entry& entry : entries) {
        char* end = nullptr;
        long number = entry.Kind == "pid" ? std::strtol(entry.First.c_str(), &end, 10) : 0;
        if (number > 0 && number <= INT_MAX && !*end) pid = static_cast<pid_t>(number);
    }
    if (pid <= 0) return false;
    bool gone = pid == getpid() || (kill(pid, 0) != 0 && errno == ESRCH);
    return gone && flock(record, LOCK_EX | LOCK_NB) == 0;
}

// Whether the descriptor is this user's, of the type (S_IFDIR and the like).
bool Mine(int fd, mode_t type) {
    struct stat info{};
    return fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == type && info.st_uid == getuid();
}

void RemoveIf(int folder, const char* name, mode_t type) {
    struct stat info{};
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && (info.st_mode & S_IFMT) == type) {
        unlinkat(folder, name, 0);
    }
}

// Clears the folder name in parent if it is a dead tap's; whether that tap
// made base.
bool ClearIfDead(int parent, const std::string& name, const std::string& base) {
    int folder = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int record = folder < 0 ? -1 : openat(folder, kRecordName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    std::vector<Entry> entries;
    if (record >= 0 && Mine(folder, S_IFDIR) && Mine(record, S_IFREG)) entries = ReadRecord(record);
    bool madeBase = false;
    if (!entries.empty() && Dead(record, entries)) {
        for (const Entry& entry : entries) {
            if (entry.Kind == "link") RemoveLinkTo(entry.First, entry.Second);
            madeBase = madeBase || (entry.Kind == "base" && entry.First == base);
        }
        RemoveTapFiles(folder);
        unlinkat(parent, name.c_str(), AT_REMOVEDIR);
    }
    if (record >= 0) close(record);
    if (folder >= 0) close(folder);
    return madeBase;
}

// The names of the tap folders in the folder.
std::vector<std::string> TapFolders(int folder) {
    std::vector<std::string> names;
    int copy = dup(folder);
    DIR* listing = copy < 0 ? nullptr : fdopendir(copy);
    if (!listing) {
        if (copy >= 0) close(copy);
        return names;
    }
    while (dirent* entry = readdir(listing)) {
        if (std::string_view(entry->d_name).starts_with(kFolderPrefix)) names.emplace_back(entry->d_name);
    }
    closedir(listing);
    return names;
}

}  // namespace

int StartRecord(int folder, const std::string& madeBase) {
    int record = openat(folder, kRecordName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
                        S_IRUSR | S_IWUSR);
    if (record < 0) return -1;
    fchmod(record, S_IRUSR | S_IWUSR);  // whatever the umask
    flock(record, LOCK_EX | LOCK_NB);   // a new file: nobody else holds it
    Append(record, {"pid", std::to_string(getpid()), ""});
    if (!madeBase.empty()) Append(record, {"base", madeBase, ""});
    return record;
}

void RecordLink(int record, const std::string& path, const std::string& target) {
    if (record >= 0) Append(record, {"link", path, target});
}

void RemoveTapFiles(int folder) {
    RemoveIf(folder, tapfeed::kFeedName, S_IFIFO);
    RemoveIf(folder, tapfeed::kCommandsName, S_IFIFO);
    RemoveIf(folder, "app", S_IFLNK);
    RemoveIf(folder, kRecordName, S_IFREG);  // the last: until it goes, a killed end can be cleared
}

void ClearDeadTaps(const std::string& base, const std::string& requested) {
    bool madeBase = false;
    int folder = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder >= 0 && Mine(folder, S_IFDIR)) {
        for (const std::string& name : TapFolders(folder)) madeBase = ClearIfDead(folder, name, base) || madeBase;
    }
    if (folder >= 0) close(folder);
    std::string parentPath, name;
    SplitPath(requested, &parentPath, &name);
    int parent = name.empty() ? -1 : open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent >= 0) {
        madeBase = ClearIfDead(parent, name, base) || madeBase;
        close(parent);
    }
    if (madeBase) rmdir(base.c_str());  // only once empty: another tap may live in it
}

void RemoveLinkTo(const std::string& path, const std::string& target) {
    char pointsTo[PATH_MAX] = {};
    ssize_t length = path.empty() ? -1 : readlink(path.c_str(), pointsTo, sizeof(pointsTo) - 1);
    if (length > 0 && target == std::string(pointsTo, static_cast<size_t>(length))) unlink(path.c_str());
}

void SplitPath(const std::string& path, std::string* parent, std::string* name) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    size_t slash = trimmed.find_last_of('/');
    *parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
    *name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace tap
