#include "watch/device_set.h"

#include <glob.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>

#include "watch/bpf_watch.h"

namespace watch {
namespace {

// Adds the device at path unless it is there already; *device its number.
bool Add(const std::string& path, DeviceSet* devices, uint32_t* device = nullptr) {
    struct stat info{};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    uint32_t number = KernelDevice(info.st_rdev);
    if (device) *device = number;
    if (devices->count(number)) return false;
    char real[PATH_MAX];
    std::string named = realpath(path.c_str(), real) ? real : path;  // a by-id link: the device's own path
    (*devices)[number] = tap::IdentifyDevice(named, info.st_rdev);
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

std::vector<uint32_t> AddSerialDevices(DeviceSet* devices) {
    std::vector<uint32_t> added;
    for (const char* pattern : {"/dev/ttyS[0-9]*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyAMA*", "/dev/rfcomm*",
                                "/dev/serial/by-id/*"}) {
        glob_t found{};
        if (glob(pattern, 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i) {
                uint32_t device = 0;
                if (Add(found.gl_pathv[i], devices, &device)) added.push_back(device);
            }
        }
        globfree(&found);
    }
    return added;
}

}  // namespace watch
