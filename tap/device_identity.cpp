#include "tap/device_identity.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "emulator/formats/port_arrival.h"

namespace tap {
namespace {

// The first line of a small sysfs file, or "".
std::string ReadLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : "";
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The USB device above the tty (the folder with idVendor), if there is one.
void ReadUsb(std::string folder, DeviceIdentity* identity) {
    for (int up = 0; up < 8 && folder.size() > 1; ++up) {
        std::string vendor = ReadLine(folder + "/idVendor");
        if (!vendor.empty()) {
            identity->Bus = "usb";
            identity->Product = ReadLine(folder + "/product");
            identity->Maker = ReadLine(folder + "/manufacturer");
            identity->Serial = ReadLine(folder + "/serial");
            identity->Hardware = "USB\\VID_" + vendor + "&PID_" + ReadLine(folder + "/idProduct");
            return;
        }
        folder = folder.substr(0, folder.rfind('/'));
    }
}

// The by-id link whose device is this one.
std::string FindById(const std::string& dev, uint64_t device) {
    std::string folder = dev + "/serial/by-id";
    DIR* listing = opendir(folder.c_str());
    if (!listing) return "";
    std::string found;
    while (dirent* entry = readdir(listing)) {
        struct stat info{};
        if (entry->d_name[0] == '.' || stat((folder + "/" + entry->d_name).c_str(), &info) != 0) continue;
        if (S_ISCHR(info.st_mode) && info.st_rdev == device) {
            found = entry->d_name;
            break;
        }
    }
    closedir(listing);
    return found;
}

// What udev's database says where sysfs said nothing: its "E:KEY=VALUE"
// lines for the device (underscores in its names stand for blanks).
void ReadUdev(const std::string& file, DeviceIdentity* identity) {
    std::ifstream data(file);
    std::string line;
    auto fill = [&](std::string* field, const char* key) {
        std::string prefix = std::string("E:") + key + "=";
        if (!field->empty() || line.rfind(prefix, 0) != 0) return;
        *field = line.substr(prefix.size());
        for (char& c : *field) c = c == '_' ? ' ' : c;
    };
    while (std::getline(data, line)) {
        fill(&identity->Product, "ID_MODEL_FROM_DATABASE");
        fill(&identity->Product, "ID_MODEL");
        fill(&identity->Maker, "ID_VENDOR_FROM_DATABASE");
        fill(&identity->Maker, "ID_VENDOR");
        fill(&identity->Serial, "ID_SERIAL_SHORT");
    }
}

}  // namespace

DeviceIdentity IdentifyDevice(const std::string& path, uint64_t device, const DeviceRoots& roots) {
    const std::string& sys = roots.Sys;
    const std::string& dev = roots.Dev;
    DeviceIdentity identity;
    identity.Path = path;
    std::string name = path.rfind(dev + "/", 0) == 0 ? path.substr(dev.size() + 1) : BaseName(path);
    for (char c : name) {
        if (c != '/') identity.Name += c;
    }
    std::string node = sys + "/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::string hardware = RealPath(node + "/device");
    if (!hardware.empty()) {
        identity.Driver = BaseName(RealPath(hardware + "/driver"));
        identity.Bus = BaseName(RealPath(hardware + "/subsystem"));
        ReadUsb(hardware, &identity);
    }
    ReadUdev(roots.Udev + "/data/c" + std::to_string(major(device)) + ":" + std::to_string(minor(device)), &identity);
    if (major(device) >= 136 && major(device) <= 143) identity.Bus = "pty";  // Unix 98 pty slaves
    identity.ById = FindById(dev, device);
    return identity;
}

std::string FirstLine(const DeviceIdentity& identity) {
    std::string what = identity.Product;
    if (what.empty() && identity.Bus == "pty") what = "pseudo-terminal";
    if (!identity.Serial.empty()) what += (what.empty() ? "serial " : ", serial ") + identity.Serial;
    return "[" + identity.Path + (what.empty() ? "" : ": " + what) + "]";
}

std::string FriendlyName(const DeviceIdentity& identity) {
    if (!identity.ById.empty()) return identity.ById;
    if (!identity.Product.empty()) return identity.Product + " (" + identity.Path + ")";
    return identity.Path;
}

std::string ArrivalProperties(const DeviceIdentity& identity) {
    tapfeed::PortArrival arrival;
    arrival.Name = identity.Name;
    arrival.Friendly = FriendlyName(identity);
    arrival.Description = identity.Product.empty() ? "Serial port" : identity.Product;
    arrival.Manufacturer = identity.Maker;
    arrival.Hardware = identity.Hardware;
    arrival.Location = identity.Path;
    arrival.Driver = identity.Driver;
    arrival.Serial = identity.Serial;
    arrival.Bus = identity.Bus;
    return tapfeed::PortArrivalText(arrival);
}

}  // namespace tap
