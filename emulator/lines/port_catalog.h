// Ready-made ports of the stand-in: realistic modems for the scenarios, and
// the odd ports that tests need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/drivers/emulated_port.h"
#include "emulator/formats/port_arrival.h"
#include "emulator/scenario/scenario.h"

namespace emu {

// Blobs: UTF-16LE text with its terminator; a list of texts, each
// terminated, plus the final terminator; a 32-bit little-endian number; a
// 16-byte GUID from its text form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
std::vector<uint8_t> TextBlob(const std::wstring& text);
std::vector<uint8_t> TextListBlob(const std::vector<std::wstring>& texts);
std::vector<uint8_t> NumberBlob(uint32_t value);
std::vector<uint8_t> GuidBlob(const char* text);

// An external data/fax modem on a serial port: description, several hardware
// ids, compatible ids, class "Modem" with the modem class GUID, driver key,
// manufacturer, friendly name, location, PDO name, bus GUID, interface type,
// bus number, enumerator, address, UI number and its COM name.
PortBlobs ModemPort(const std::wstring& comName, uint32_t number);

// A port whose 19 property lengths are all 0.
PortBlobs EmptyPort();

// A friendly name none of whose letters exists in code page 1252.
std::wstring ForeignFriendlyName(const std::wstring& comName);

// A modem whose friendly name holds a character outside code page 1252.
PortBlobs ForeignNamePort();

// What a port of a scenario reports: a modem (full, empty or with a foreign
// friendly name), or a relay on real serial ports, named after them ("Tap of
// COM5", "Sniff of COM5 and COM6") unless the scenario names it.
PortBlobs PortBlobsFor(const scenario::Port& port);

// A port that a watch reports, its `number` in the watch's feed: class
// "Ports" with the Ports class GUID, enumerator QVLWATCH, PDO name
// \Device\QvlWatch-NUMBER, address and UI number NUMBER, and the feed's
// properties (UTF-8 decoded; each absent when the feed gave none) where a
// port keeps the like: name as its COM name, friendly as its friendly name,
// description, manufacturer, location (the device's path), driver as its
// driver key; the hardware ids, most specific first: HARDWARE\SERIAL (the
// device's own, QVLWATCH\SERIAL without a hardware id), then HARDWARE;
// the compatible id QVLWATCH\BUS, and for usb, pci and pnp the bus GUID.
PortBlobs WatchedPortBlobs(const tapfeed::PortArrival& arrival, uint32_t number);

}  // namespace emu
