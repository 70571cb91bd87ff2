#include "emulator/lines/port_catalog.h"

#include <windows.h>

#include <cstdio>

#include "emulator/formats/utf8_text.h"
#include "wire/port_property_records.h"

namespace emu {

using namespace quorvel;

std::vector<uint8_t> TextBlob(const std::wstring& text) {
    std::vector<uint8_t> blob;
    for (wchar_t c : text) {
        blob.push_back(static_cast<uint8_t>(c & 0xFF));
        blob.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    blob.push_back(0);
    blob.push_back(0);
    return blob;
}

std::vector<uint8_t> TextListBlob(const std::vector<std::wstring>& texts) {
    std::vector<uint8_t> blob;
    for (const std::wstring& text : texts) {
        std::vector<uint8_t> one = TextBlob(text);
        blob.insert(blob.end(), one.begin(), one.end());
    }
    blob.push_back(0);
    blob.push_back(0);
    return blob;
}

std::vector<uint8_t> NumberBlob(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> GuidBlob(const char* text) {
    unsigned long data1 = 0;
    unsigned int data2 = 0, data3 = 0, b[8] = {};
    std::sscanf(text, "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &data2, &data3, &b[0],
                &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]);
    std::vector<uint8_t> blob = NumberBlob(static_cast<uint32_t>(data1));
    blob.push_back(static_cast<uint8_t>(data2));
    blob.push_back(static_cast<uint8_t>(data2 >> 8));
    blob.push_back(static_cast<uint8_t>(data3));
    blob.push_back(static_cast<uint8_t>(data3 >> 8));
    for (unsigned int byte : b) blob.push_back(static_cast<uint8_t>(byte));
    return blob;
}

namespace {

constexpr wchar_t kPortsClassGuid[] = L"{4D36E978-E325-11CE-BFC1-08002BE10318}";

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// UTF-16 code units are wchar_t's here (Windows).
std::wstring FromUtf8(const std::string& text) {
    std::u16string wide = tapfeed::Utf16FromUtf8(text);
    return std::wstring(wide.begin(), wide.end());
}

// A text property from the feed's UTF-8, absent when it gave none.
void SetText(PortBlobs& blobs, uint32_t index, const std::string& utf8) {
    if (!utf8.empty()) blobs.Properties[index] = TextBlob(FromUtf8(utf8));
}

// The buses whose type a port reports as a GUID.
struct BusType {
    const char* Bus;
    const char* Guid;
};

constexpr BusType kBusTypes[] = {
    {"usb", "{9D7DEBBC-C85D-11D1-9EB4-006008C3A19A}"},
    {"pci", "{C8EBDFB0-B510-11D0-80E5-00A0C92542E3}"},
    {"pnp", "{E676F854-D87D-11D0-92B2-00A0C9055FC5}"},  // Plug and Play ISA
};

// A watched port's hardware ids, most specific first; none without a
// hardware id or a serial number.
std::vector<std::wstring> HardwareIds(const tapfeed::PortArrival& arrival) {
    std::vector<std::wstring> ids;
    if (!arrival.Serial.empty()) {
        ids.push_back(FromUtf8((arrival.Hardware.empty() ? "QVLWATCH" : arrival.Hardware) + "\\" + arrival.Serial));
    }
    if (!arrival.Hardware.empty()) ids.push_back(FromUtf8(arrival.Hardware));
    return ids;
}

// Friendly names are written in code page 1252, whatever the system's.
std::wstring FromCodePage1252(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    int length = MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return Widen(bytes);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return text;
}

// A port of the system's "Ports" class on a real line that quorvel-tap
// owns: a tap's (named after the application's port) or a sniffer's.
PortBlobs RelayPort(const scenario::Port& port) {
    bool tap = port.Kind == scenario::PortKind::Tap;
    bool replay = port.Kind == scenario::PortKind::Replay;
    std::wstring name = Widen(port.Name), other = Widen(port.OtherName);
    std::wstring index = std::to_wstring(port.Number);
    PortBlobs blobs;
    blobs.Properties[kPropDescription] =
        TextBlob(tap ? L"Serial line tap" : replay ? L"Serial line replay" : L"Serial line sniffer");
    blobs.Properties[kPropHardwareId] =
        TextListBlob({tap ? L"QVLRELAY\\TAP" : replay ? L"QVLRELAY\\REPLAY" : L"QVLRELAY\\SNIFF"});
    blobs.Properties[kPropClassName] = TextBlob(L"Ports");
    blobs.Properties[kPropClassGuid] = TextBlob(kPortsClassGuid);
    blobs.Properties[kPropDriverKey] = TextBlob(kPortsClassGuid + (L"\\01" + index));
    blobs.Properties[kPropManufacturer] = TextBlob(L"(Stand-in relay)");
    blobs.Properties[kPropFriendlyName] =
        TextBlob(replay ? L"Replay of " + other : (tap ? L"Tap on " : L"Sniffer ") + name);
    blobs.Properties[kPropLocation] = TextBlob((replay ? L"Played from " : L"Fed from ") + other);
    blobs.Properties[kPropPdoName] = TextBlob(L"\\Device\\QvlRelay-" + index);
    blobs.Properties[kPropEnumerator] = TextBlob(L"QVLRELAY");
    blobs.Properties[kPropAddress] = NumberBlob(port.Number);
    blobs.Properties[kPropUiNumber] = NumberBlob(port.Number);
    blobs.Properties[kPropComPort] = TextBlob(name);
    return blobs;
}

}  // namespace

PortBlobs ModemPort(const std::wstring& comName, uint32_t number) {
    std::wstring index = std::to_wstring(number);
    PortBlobs port;
    port.Properties[kPropDescription] = TextBlob(L"Standard 56000 bps V90 Modem");
    port.Properties[kPropHardwareId] = TextListBlob(
        {L"SERENUM\\QVL5601", L"SERENUM\\QVL5601_V90", L"QVL5601", L"*PNPC107"});
    port.Properties[kPropCompatibleIds] = TextListBlob({L"*PNPC107", L"*PNPC031"});
    port.Properties[kPropClassName] = TextBlob(L"Modem");
    port.Properties[kPropClassGuid] = TextBlob(L"{4D36E96D-E325-11CE-BFC1-08002BE10318}");
    port.Properties[kPropDriverKey] =
        TextBlob(L"{4D36E96D-E325-11CE-BFC1-08002BE10318}\\000" + index);
    port.Properties[kPropManufacturer] = TextBlob(L"(Standard Modem Types)");
    port.Properties[kPropFriendlyName] = TextBlob(L"Standard 56000 bps V90 Modem #" + index);
    port.Properties[kPropLocation] = TextBlob(L"Serial port " + comName);
    port.Properties[kPropPdoName] = TextBlob(L"\\Device\\Serenum-" + index);
    port.Properties[kPropBusGuid] = GuidBlob("{C8EBDFB0-B510-11D0-80E5-00A0C92C3A5C}");
    port.Properties[kPropInterfaceType] = NumberBlob(1);  // ISA
    port.Properties[kPropBusNumber] = NumberBlob(0);
    port.Properties[kPropEnumerator] = TextBlob(L"SERENUM");
    port.Properties[kPropAddress] = NumberBlob(number);
    port.Properties[kPropUiNumber] = NumberBlob(number);
    port.Properties[kPropComPort] = TextBlob(comName);
    return port;
}

PortBlobs EmptyPort() { return PortBlobs{}; }

std::wstring ForeignFriendlyName(const std::wstring& comName) {
    // Cyrillic "Modem".
    return L"\x041C\x043E\x0434\x0435\x043C " + comName;
}

PortBlobs ForeignNamePort() {
    PortBlobs port = ModemPort(L"COM9", 9);
    port.Properties[kPropFriendlyName] = TextBlob(ForeignFriendlyName(L"COM9"));
    return port;
}

PortBlobs PortBlobsFor(const scenario::Port& port) {
    std::wstring name = Widen(port.Name);
    PortBlobs blobs;
    switch (port.Kind) {
        case scenario::PortKind::Empty: blobs = EmptyPort(); break;
        case scenario::PortKind::Tap:
        case scenario::PortKind::Sniff:
        case scenario::PortKind::Replay: blobs = RelayPort(port); break;
        default: blobs = ModemPort(name, port.Number); break;
    }
    if (port.Kind == scenario::PortKind::Foreign) {
        blobs.Properties[kPropFriendlyName] = TextBlob(ForeignFriendlyName(name));
    }
    if (port.HasFriendlyName) {
        blobs.Properties[kPropFriendlyName] = TextBlob(FromCodePage1252(port.FriendlyName));
    }
    return blobs;
}

PortBlobs WatchedPortBlobs(const tapfeed::PortArrival& arrival, uint32_t number) {
    std::wstring index = std::to_wstring(number);
    PortBlobs blobs;
    SetText(blobs, kPropDescription, arrival.Description);
    std::vector<std::wstring> hardwareIds = HardwareIds(arrival);
    if (!hardwareIds.empty()) blobs.Properties[kPropHardwareId] = TextListBlob(hardwareIds);
    if (!arrival.Bus.empty()) {
        blobs.Properties[kPropCompatibleIds] = TextListBlob({L"QVLWATCH\\" + FromUtf8(arrival.Bus)});
    }
    blobs.Properties[kPropClassName] = TextBlob(L"Ports");
    blobs.Properties[kPropClassGuid] = TextBlob(kPortsClassGuid);
    SetText(blobs, kPropDriverKey, arrival.Driver);
    SetText(blobs, kPropManufacturer, arrival.Manufacturer);
    SetText(blobs, kPropFriendlyName, arrival.Friendly);
    SetText(blobs, kPropLocation, arrival.Location);
    blobs.Properties[kPropPdoName] = TextBlob(L"\\Device\\QvlWatch-" + index);
    for (const BusType& type : kBusTypes) {
        if (arrival.Bus == type.Bus) blobs.Properties[kPropBusGuid] = GuidBlob(type.Guid);
    }
    blobs.Properties[kPropEnumerator] = TextBlob(L"QVLWATCH");
    blobs.Properties[kPropAddress] = NumberBlob(number);
    blobs.Properties[kPropUiNumber] = NumberBlob(number);
    blobs.Properties[kPropComPort] = TextBlob(FromUtf8(arrival.Name));
    return blobs;
}

}  // namespace emu
