#include "port/port_monitor.h"

#include <cstring>

#include "driver/device_request.h"
#include "wire/request_codes.h"
#include "port/capture_ring.h"
#include "port/property_reply_layout.h"
#include "port/wide_to_ansi.h"
#include "system/scoped_handles.h"

namespace quorvel {
namespace {

// Completion event of the property request: main thread only, created at
// first use and kept for the life of the process.
HANDLE g_propertyEvent = nullptr;

// A number property: its first 4 bytes, or the absent value when the blob
// is missing or shorter than a number.
uint32_t NumberProperty(const PortMonitor& port, uint32_t index, uint32_t absent) {
    const uint8_t* blob = port.PropertyData[index];
    if (!blob || port.Header.Lengths[index] < 4) return absent;
    return ReadUnalignedU32(blob);
}

void TextProperty(PortMonitor& port, uint32_t index, char*& field) {
    WideToAnsi(field, port.PropertyData[index], port.Header.Lengths[index]);
}

void FreeText(char*& text) {
    delete[] text;
    text = nullptr;
}

}  // namespace

PortMonitor::PortMonitor(HANDLE device) : DeviceHandle(device) { PaneLines.Port = this; }

bool FetchProperties(PortMonitor& port, const PortPropertyHeader& header) {
    if (port.DeviceHandle == INVALID_HANDLE_VALUE) return false;
    uint32_t size = 0;
    if (!ComputePropertyReplySize(header, &size)) return false;
    OwnedBuffer<uint8_t> reply(size);
    if (!reply) return false;
    std::memset(reply.Get(), 0, size);

    HANDLE event = LazyAutoResetEvent(g_propertyEvent);
    DWORD bytes = 0;
    if (!event || !RunRequest(port.DeviceHandle, IOCTL_LINE_GET_PORT_PROPERTIES, &header,
                              sizeof(header), reply.Get(), size, event, &bytes) ||
        bytes != size) {
        return false;
    }

    port.Header = header;
    uint32_t offsets[kPropertyCount];
    LocatePropertyBlobs(header, offsets);
    for (uint32_t i = 0; i < kPropertyCount; ++i) {
        port.PropertyData[i] = offsets[i] ? reply.Get() + offsets[i] : nullptr;
    }
    port.PropertyReply = reply.Release();
    DecodeProperties(port);
    return true;
}

void DecodeProperties(PortMonitor& port) {
    TextProperty(port, kPropDescription, port.Description);
    TextProperty(port, kPropHardwareId, port.HardwareID);
    TextProperty(port, kPropCompatibleIds, port.CompatibleIds);
    port.Config = port.PropertyData[kPropConfig];
    port.ConfigTranslated = port.PropertyData[kPropConfigTranslated];
    TextProperty(port, kPropClassName, port.ClassName);
    TextProperty(port, kPropClassGuid, port.ClassGuid);
    TextProperty(port, kPropDriverKey, port.DriverKey);
    TextProperty(port, kPropManufacturer, port.Manufacturer);
    TextProperty(port, kPropFriendlyName, port.FriendlyName);
    TextProperty(port, kPropLocation, port.Location);
    TextProperty(port, kPropPdoName, port.PDOName);
    // A GUID shorter than 16 bytes counts as absent.
    const uint8_t* guid = port.PropertyData[kPropBusGuid];
    if (guid && port.Header.Lengths[kPropBusGuid] >= 16) {
        std::memcpy(port.BusGuid, guid, sizeof(port.BusGuid));
    } else {
        std::memset(port.BusGuid, 0, sizeof(port.BusGuid));
    }
    port.InterfaceType = static_cast<int32_t>(NumberProperty(port, kPropInterfaceType, 0xFFFFFFFF));
    port.BusNumber = NumberProperty(port, kPropBusNumber, 0xFFFFFFFF);
    TextProperty(port, kPropEnumerator, port.Enumerator);
    port.Address = NumberProperty(port, kPropAddress, 0xFFFFFFFF);
    port.UINumber = NumberProperty(port, kPropUiNumber, 0xFFFFFFFF);
    TextProperty(port, kPropComPort, port.ComPort);
}

void SetPane(PortMonitor& port, HWND listBox, HANDLE captureThread) {
    port.ListBox = listBox;
    port.CaptureThreadHandle = captureThread;
}

void PublishCaptureRing(PortMonitor& port, CaptureRing* ring) {
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&port.CaptureRing), ring);
}

CaptureRing* PublishedCaptureRing(const PortMonitor& port) {
    auto* slot = reinterpret_cast<PVOID volatile*>(const_cast<CaptureRing* volatile*>(&port.CaptureRing));
    return static_cast<CaptureRing*>(InterlockedCompareExchangePointer(slot, nullptr, nullptr));
}

void GetPane(const PortMonitor& port, HWND* listBox, HANDLE* captureThread) {
    if (listBox) *listBox = port.ListBox;
    if (captureThread) *captureThread = port.CaptureThreadHandle;
}

const char* GetFriendlyName(const PortMonitor& port) { return port.FriendlyName; }

// Every text that the record owns.
constexpr char* PortMonitor::*kOwnedTexts[] = {
    &PortMonitor::ClassGuid,  &PortMonitor::ClassName,    &PortMonitor::CompatibleIds, &PortMonitor::Description,
    &PortMonitor::DriverKey,  &PortMonitor::Enumerator,   &PortMonitor::FriendlyName,  &PortMonitor::HardwareID,
    &PortMonitor::Location,   &PortMonitor::Manufacturer, &PortMonitor::PDOName,       &PortMonitor::ComPort,
};

void ReleaseStorage(PortMonitor& port) {
    for (char* PortMonitor::*text : kOwnedTexts) FreeText(port.*text);
    FreeCaptureRing(port.CaptureRing);
    port.CaptureRing = nullptr;
    ForgetQueue(port.PaneLines);
    delete[] port.PropertyReply;
    port.PropertyReply = nullptr;
    port.Header = PortPropertyHeader{};
}

}  // namespace quorvel
