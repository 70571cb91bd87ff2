#include "watch/device_set.h"

#include <glob.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>

#include "watch/bpf_watch.h"

namespace watch {
namespace {

bool Add(const std::string& path, DeviceSet* devices) {
    struct stat info{};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    uint32_t device = KernelDevice(info.st_rdev);
    if (devices->count(device)) return false;
    char real[PATH_MAX];
    std::string named = realpath(path.c_str(), real) ? real : path;  // a by-id link: the device's own path
    (*devices)[device] = tap::IdentifyDevice(named, info.st_rdev);
    return true;
}

}  // namespace

bool NamedDevices(const std::vector<std::string>& paths, DeviceSet* devices, std::string* why) {
    for (const std::string& path : paths) {
        struct stat info{};
        if (stat(path.c_str(), &info) != 0) {
            *why = path + ": " + std::strerror(errno);
            return false;
        }
        if (!S_ISCHR(info.st_mode)) {
            *why = path + ": not a character device";
            return false;
        }
        Add(path, devices);
    }
    return true;
}

size_t AddSerialDevices(DeviceSet* devices) {
    size_t added = 0;
    for (const char* pattern : {"/dev/ttyS[0-9]*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyAMA*", "/dev/rfcomm*",
                                "/dev/serial/by-id/*"}) {
        glob_t found{};
        if (glob(pattern, 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i) added += Add(found.gl_pathv[i], devices);
        }
        globfree(&found);
    }
    return added;
}

}  // namespace watch
