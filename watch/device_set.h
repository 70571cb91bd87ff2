// The devices a watch watches: those the user named, or every serial device
// of the machine, each with its kernel number and who it is.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tap/device_identity.h"

namespace watch {

// By the kernel's device number (bpf_watch.h).
using DeviceSet = std::map<uint32_t, tap::DeviceIdentity>;

// The named devices (followed through links, relative to the current
// folder): false with one line that names the first that is not a
// character device.
bool NamedDevices(const std::vector<std::string>& paths, DeviceSet* devices, std::string* why);

// Adds the machine's serial devices that are not in devices yet (only
// those are looked up in sysfs); the new ones' numbers.
std::vector<uint32_t> AddSerialDevices(DeviceSet* devices);

}  // namespace watch
