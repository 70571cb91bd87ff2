// Wire layouts of a port's device properties, shared with the control driver.
//
// PortPropertyHeader comes with every port arrival; the property reply is the
// output of IOCTL_LINE_GET_PORT_PROPERTIES, whose input is the header again.
// All integers are little-endian; blobs in the reply start at any byte offset.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

constexpr uint32_t kPropertyCount = 19;

#pragma pack(push, 1)
struct PortPropertyHeader {
    uint32_t PortKey;                   // the port's identifier, chosen by the driver
    uint32_t Lengths[kPropertyCount];   // byte length of property i; 0 = absent
};
#pragma pack(pop)

static_assert(sizeof(PortPropertyHeader) == 80);
static_assert(offsetof(PortPropertyHeader, PortKey) == 0);
static_assert(offsetof(PortPropertyHeader, Lengths) == 4);

// The reply: the 80 header bytes (not read), then the 19 blobs in index
// order, each followed by one spare byte (an absent blob is the spare byte
// alone).
constexpr uint32_t kPropertyBlobsOffset = 80;

// Indices of the 19 properties.
enum PropertyIndex : uint32_t {
    kPropDescription = 0,
    kPropHardwareId = 1,
    kPropCompatibleIds = 2,
    kPropConfig = 3,
    kPropConfigTranslated = 4,
    kPropClassName = 5,
    kPropClassGuid = 6,
    kPropDriverKey = 7,
    kPropManufacturer = 8,
    kPropFriendlyName = 9,
    kPropLocation = 10,
    kPropPdoName = 11,
    kPropBusGuid = 12,
    kPropInterfaceType = 13,
    kPropBusNumber = 14,
    kPropEnumerator = 15,
    kPropAddress = 16,
    kPropUiNumber = 17,
    kPropComPort = 18,
};

}  // namespace quorvel
