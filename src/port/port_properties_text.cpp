#include "port/port_properties_text.h"

#include <cstdio>

namespace quorvel {
namespace {

const char* OrNull(const char* text) { return text ? text : "(null)"; }

}  // namespace

void FormatPropertiesText(const PortMonitor& port, char* text, size_t capacity) {
    // snprintf cuts at capacity and always terminates.
    std::snprintf(text, capacity,
                  "Address:\t\t%08x\nConfig:\t\t(Unknown)\nConfigTranslated:\t(Unknown)\n"
                  "BusNumber:\t%08x\nBusGuid:\t\t(Unknown)\nClassGuid:\t%s\nClassName:\t%s\n"
                  "CompatibleIds:\t%s\nDescription:\t%s\nDriverKey:\t%s\nEnumerator:\t%s\n"
                  "FriendlyName:\t%s\nHardwareID:\t%s\nInterfaceType:\t%d\nLocation:\t\t%s\n"
                  "Manufacturer:\t%s\nPDOName:\t%s\nUINumber:\t%08x\nCOM port:\t%s\n",
                  port.Address, port.BusNumber, OrNull(port.ClassGuid), OrNull(port.ClassName),
                  OrNull(port.CompatibleIds), OrNull(port.Description), OrNull(port.DriverKey),
                  OrNull(port.Enumerator), OrNull(port.FriendlyName), OrNull(port.HardwareID),
                  static_cast<int>(port.InterfaceType), OrNull(port.Location),
                  OrNull(port.Manufacturer), OrNull(port.PDOName), port.UINumber,
                  OrNull(port.ComPort));
}

}  // namespace quorvel
