#include "emulator/port_catalog.h"

#include "driver/port_property_records.h"

namespace emu {

using namespace quorvel;
using control::GuidBlob;
using control::NumberBlob;
using control::TextBlob;
using control::TextListBlob;

control::PortBlobs ModemPort(const std::wstring& comName, uint32_t number) {
    std::wstring index = std::to_wstring(number);
    control::PortBlobs port;
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

control::PortBlobs EmptyPort() { return control::PortBlobs{}; }

std::wstring ForeignFriendlyName(const std::wstring& comName) {
    // Cyrillic "Modem".
    return L"\x041C\x043E\x0434\x0435\x043C " + comName;
}

control::PortBlobs ForeignNamePort() {
    control::PortBlobs port = ModemPort(L"COM9", 9);
    port.Properties[kPropFriendlyName] = TextBlob(ForeignFriendlyName(L"COM9"));
    return port;
}

}  // namespace emu
