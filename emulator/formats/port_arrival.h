// The payload of a watch's kPortArrived record: the arriving port's
// properties as UTF-8 text, one "KEY=VALUE\n" line each. Keys that the
// reader does not know are skipped, so that a newer watch may say more.
// Pure code, used by the watch on Linux and by the stand-in under Wine.
//
//   name          the port's name in the monitor, such as ttyUSB0 (required)
//   friendly      its friendly name, which the monitor's menu shows
//   description   the product, such as "FT232R USB UART"
//   manufacturer  its maker
//   hardware      a hardware id, such as USB\VID_0403&PID_6001
//   location      the device's path, such as /dev/ttyUSB0
//   driver        the driver that serves it, such as ftdi_sio
//   serial        its serial number
//   bus           the bus it sits on, such as usb, pci, pnp or pty
#pragma once

#include <string>
#include <string_view>

namespace tapfeed {

// A port's properties as the feed gives them (UTF-8, as written); empty
// when not given.
struct PortArrival {
    std::string Name;
    std::string Friendly;
    std::string Description;
    std::string Manufacturer;
    std::string Hardware;
    std::string Location;
    std::string Driver;
    std::string Serial;
    std::string Bus;
};

// Reads the payload: every known key's value, the last one when a key
// comes twice. A line ends at LF (a CR before it is dropped; the last line
// needs no LF); a line without '=' is skipped. A zero byte in a value
// becomes a blank (the properties are terminated texts). False, with the
// reason in *problem, when the port's name is missing or empty.
bool ReadPortArrival(std::string_view text, PortArrival* arrival, std::string* problem);

// The payload for these properties: a line for each that is not empty, in
// the order above (a line end inside a value becomes a blank).
std::string PortArrivalText(const PortArrival& arrival);

}  // namespace tapfeed
