#include "ui/properties_box.h"

#include "port/port_properties_text.h"

namespace quorvel {

void ShowProperties(const PortMonitor& port, HWND owner) {
    char text[kPropertiesTextCapacity];
    FormatPropertiesText(port, text, sizeof(text));
    MessageBoxA(owner, text, "Port properties", MB_OK | MB_ICONINFORMATION);
}

}  // namespace quorvel
