#include "watch/calling_user.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "emulator/formats/tap_feed_records.h"

namespace watch {
namespace {

bool Id(const char* name, unsigned long* value) {
    const char* text = std::getenv(name);
    if (!text || !*text) return false;
    char* end = nullptr;
    *value = std::strtoul(text, &end, 10);
    return *end == '\0' && *value > 0 && *value < 4294967295ul;
}

}  // namespace

CallingUser FindCallingUser() {
    CallingUser user;
    unsigned long uid = 0, gid = 0;
    if (getuid() != 0 || !Id("SUDO_UID", &uid) || !Id("SUDO_GID", &gid)) return user;
    user.Present = true;
    user.Uid = static_cast<uid_t>(uid);
    user.Gid = static_cast<gid_t>(gid);
    if (passwd* entry = getpwuid(user.Uid)) user.Home = entry->pw_dir;
    return user;
}

std::string FolderFor(const CallingUser& user) {
    std::string runtime = "/run/user/" + std::to_string(user.Uid);
    struct stat info{};
    bool theirs = lstat(runtime.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == user.Uid &&
                  (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
    return (theirs ? runtime : "/tmp") + "/quorvel-watch-" + std::to_string(getpid());
}

bool HandOver(const tap::TapFolder& folder, const CallingUser& user) {
    bool given = fchown(folder.Dir, user.Uid, user.Gid) == 0;
    for (const char* name : {tapfeed::kFeedName, tapfeed::kCommandsName}) {
        given = fchownat(folder.Dir, name, user.Uid, user.Gid, AT_SYMLINK_NOFOLLOW) == 0 && given;
    }
    return given;
}

std::vector<std::string> AsUser(const CallingUser& user, const std::vector<std::string>& command) {
    std::vector<std::string> whole = {"/usr/bin/setpriv", "--reuid=" + std::to_string(user.Uid),
                                      "--regid=" + std::to_string(user.Gid), "--init-groups", "--"};
    whole.insert(whole.end(), command.begin(), command.end());
    return whole;
}

}  // namespace watch
