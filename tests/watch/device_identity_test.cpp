// Who a device is, read from a sysfs, a by-id folder and a udev database
// laid out as the kernel and udev lay them out, in a folder of the test's:
// a USB adapter whose tty sits below its USB device, and a port that only
// udev's database names. What the pane's first line, the Description menu
// and the port's properties then say.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "emulator/formats/port_arrival.h"
#include "tap/device_identity.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(target, link);
}

std::string Node(dev_t device) { return std::to_string(major(device)) + ":" + std::to_string(minor(device)); }

TEST(DeviceIdentity, AUsbAdapterAndAPortThatOnlyUdevNames) {
    char made[] = "/tmp/quorvel-identity-XXXXXX";
    ASSERT_TRUE(mkdtemp(made));
    fs::path root = made;
    struct stat null{}, zero{};
    ASSERT_EQ(stat("/dev/null", &null), 0);  // real character devices stand for the two ports
    ASSERT_EQ(stat("/dev/zero", &zero), 0);
    fs::path usb = root / "sys/devices/pci0/usb1/1-1", port = usb / "1-1:1.0/ttyUSB0";
    Write(usb / "idVendor", "0403");
    Write(usb / "idProduct", "6001");
    Write(usb / "product", "FT232R USB UART");
    Write(usb / "manufacturer", "FTDI");
    Write(usb / "serial", "A12345");
    Link(port / "driver", root / "sys/bus/usb-serial/drivers/ftdi_sio");
    Link(port / "subsystem", root / "sys/bus/usb-serial");
    fs::create_directories(root / "sys/bus/usb-serial/drivers/ftdi_sio");
    Link(port / "tty/ttyUSB0/device", port);
    Link(root / "sys/dev/char" / Node(null.st_rdev), port / "tty/ttyUSB0");
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_symlink("/dev/null", root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
    Write(root / "udev/data" / ("c" + Node(zero.st_rdev)), "S:serial/by-path/x\nE:ID_MODEL_FROM_DATABASE=CP2102_USB_to_UART_Bridge\n"
                                                              "E:ID_VENDOR=Silicon_Labs\nE:ID_SERIAL_SHORT=0001");
    tap::DeviceRoots roots{(root / "sys").string(), (root / "dev").string(), (root / "udev").string()};

    tap::DeviceIdentity adapter = tap::IdentifyDevice("/dev/ttyUSB0", null.st_rdev, roots);
    EXPECT_EQ(tap::FirstLine(adapter), "[/dev/ttyUSB0: FT232R USB UART, serial A12345]");
    EXPECT_EQ(tap::FriendlyName(adapter), "usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
    tapfeed::PortArrival arrival;
    std::string problem;
    ASSERT_TRUE(tapfeed::ReadPortArrival(tap::ArrivalProperties(adapter), &arrival, &problem)) << problem;
    EXPECT_EQ(arrival.Name, "ttyUSB0");
    EXPECT_EQ(arrival.Manufacturer, "FTDI");
    EXPECT_EQ(arrival.Hardware, "USB\\VID_0403&PID_6001");
    EXPECT_EQ(arrival.Driver, "ftdi_sio");
    EXPECT_EQ(arrival.Bus, "usb");
    EXPECT_EQ(arrival.Location, "/dev/ttyUSB0");

    tap::DeviceIdentity onlyUdev = tap::IdentifyDevice("/dev/ttyS4", zero.st_rdev, roots);
    EXPECT_EQ(tap::FirstLine(onlyUdev), "[/dev/ttyS4: CP2102 USB to UART Bridge, serial 0001]");
    EXPECT_EQ(onlyUdev.Maker, "Silicon Labs");
    EXPECT_EQ(tap::FriendlyName(onlyUdev), "CP2102 USB to UART Bridge (/dev/ttyS4)");
    fs::remove_all(root);
}

}  // namespace
