// Who a serial device is, as the system knows it: its product, maker,
// serial number and driver from sysfs (the USB device above a ttyUSB or
// ttyACM) or else udev, its /dev/serial/by-id name, its bus. The monitor shows it in the
// port's properties and in the pane's first line, so that a user with many
// ports on screen tells them apart at a glance.
#pragma once

#include <cstdint>
#include <string>

namespace tap {

struct DeviceIdentity {
    std::string Path;       // /dev/ttyUSB0, /dev/pts/3
    std::string Name;       // ttyUSB0, pts3: the port's name in the monitor
    std::string Product;    // "FT232R USB UART"
    std::string Maker;      // "FTDI"
    std::string Serial;     // "A12345"
    std::string Driver;     // "ftdi_sio"
    std::string ById;       // the /dev/serial/by-id name, without its folder
    std::string Bus;        // "usb", "platform", "pnp", "pty"
    std::string Hardware;   // "USB\VID_0403&PID_6001"
};

// Where the system keeps what it knows of devices (other roots for tests).
struct DeviceRoots {
    std::string Sys = "/sys";
    std::string Dev = "/dev";
    std::string Udev = "/run/udev";
};

// Reads what sysfs and the by-id folder say of the character device number
// (the C library's dev_t) at path, and udev's database where sysfs has no
// product, maker or serial number.
DeviceIdentity IdentifyDevice(const std::string& path, uint64_t device, const DeviceRoots& roots = {});

// The pane's first line: "[/dev/ttyUSB0: FT232R USB UART, serial A12345]",
// "[/dev/pts/3: pseudo-terminal]", or "[/dev/ttyS0]".
std::string FirstLine(const DeviceIdentity& identity);

// The name the monitor's menus show: the by-id name, else the product and
// the path, else the path.
std::string FriendlyName(const DeviceIdentity& identity);

// The feed's arrival payload (emulator/formats/port_arrival.h).
std::string ArrivalProperties(const DeviceIdentity& identity);

}  // namespace tap
