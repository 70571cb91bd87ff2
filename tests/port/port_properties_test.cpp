// A port of the stand-in turned into a PortMonitor: the property request on
// the wire, decoding, failures, and the "Port properties" box.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "wire/request_codes.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "port/port_monitor.h"
#include "port/port_properties_text.h"
#include "ui/properties_box.h"
#include "support/emulated_driver.h"
#include "support/message_box_equality.h"
#include "support/wire_client.h"
#include "system/system_calls.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using Kind = control::RequestFault::Kind;

// The lines of the "Port properties" box: each label with its value for the
// catalogue's modem on COM1 and for a port without any property.
struct BoxLine {
    const char* Label;
    const char* Full;
    const char* Empty;
};

const BoxLine kBoxLines[] = {
    {"Address:\t\t", "00000001", "ffffffff"},
    {"Config:\t\t", "(Unknown)", "(Unknown)"},
    {"ConfigTranslated:\t", "(Unknown)", "(Unknown)"},
    {"BusNumber:\t", "00000000", "ffffffff"},
    {"BusGuid:\t\t", "(Unknown)", "(Unknown)"},
    {"ClassGuid:\t", "{4D36E96D-E325-11CE-BFC1-08002BE10318}", "(null)"},
    {"ClassName:\t", "Modem", "(null)"},
    {"CompatibleIds:\t", "*PNPC107", "(null)"},
    {"Description:\t", "Standard 56000 bps V90 Modem", "(null)"},
    {"DriverKey:\t", "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001", "(null)"},
    {"Enumerator:\t", "SERENUM", "(null)"},
    {"FriendlyName:\t", "Standard 56000 bps V90 Modem #1", "(null)"},
    {"HardwareID:\t", "SERENUM\\QVL5601", "(null)"},
    {"InterfaceType:\t", "1", "-1"},
    {"Location:\t\t", "Serial port COM1", "(null)"},
    {"Manufacturer:\t", "(Standard Modem Types)", "(null)"},
    {"PDOName:\t", "\\Device\\Serenum-1", "(null)"},
    {"UINumber:\t", "00000001", "ffffffff"},
    {"COM port:\t", "COM1", "(null)"},
};

// The box's text with the values of one column: &BoxLine::Full or &BoxLine::Empty.
std::string BoxText(const char* BoxLine::*value) {
    std::string text;
    for (const BoxLine& line : kBoxLines) text += std::string(line.Label) + line.*value + "\n";
    return text;
}

class PortPropertiesTest : public testsupport::EmulatedDeviceTest {
protected:
    void TearDown() override {
        for (PortMonitor* port : ports_) {
            ReleaseStorage(*port);
            delete port;
        }
        EmulatedDeviceTest::TearDown();
    }

    // The arrival header of a new port; the request log starts after it.
    PortPropertyHeader Arrive(const control::PortBlobs& blobs) {
        PortPropertyHeader header = testsupport::ArriveAndTakeHeader(device_, blobs);
        control::ClearRequestLog();
        return header;
    }

    PortMonitor& NewPort() {
        ports_.push_back(new PortMonitor(device_));
        return *ports_.back();
    }

    // True when every field still has its value at construction.
    static void ExpectAsConstructed(const PortMonitor& port) {
        PortPropertyHeader zero{};
        EXPECT_EQ(std::memcmp(&port.Header, &zero, sizeof zero), 0);
        for (const uint8_t* data : port.PropertyData) EXPECT_EQ(data, nullptr);
        EXPECT_EQ(port.PropertyReply, nullptr);
        EXPECT_EQ(port.FriendlyName, nullptr);
        EXPECT_EQ(port.Description, nullptr);
        EXPECT_EQ(port.Address, 0u);
        EXPECT_EQ(port.InterfaceType, 0);
        EXPECT_EQ(port.RecordForm, 1u);
    }

    std::vector<PortMonitor*> ports_;
};

TEST_F(PortPropertiesTest, AModemIsDecodedAndTheRequestCarriesItsHeader) {
    PortPropertyHeader header = Arrive(emu::ModemPort(L"COM1", 1));
    PortMonitor& port = NewPort();
    ASSERT_TRUE(FetchProperties(port, header));

    auto log = control::RequestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].Code, IOCTL_LINE_GET_PORT_PROPERTIES);
    const auto* headerBytes = reinterpret_cast<const uint8_t*>(&header);
    EXPECT_EQ(log[0].Input, std::vector<uint8_t>(headerBytes, headerBytes + sizeof header));
    EXPECT_EQ(log[0].OutputSize, testsupport::PropertyReplySize(header));

    EXPECT_EQ(port.Header.PortKey, header.PortKey);
    EXPECT_STREQ(port.HardwareID, "SERENUM\\QVL5601") << "only the first id of the list";
    EXPECT_STREQ(port.CompatibleIds, "*PNPC107");
    EXPECT_STREQ(port.ComPort, "COM1");
    EXPECT_STREQ(GetFriendlyName(port), "Standard 56000 bps V90 Modem #1");
    EXPECT_EQ(port.InterfaceType, 1);
    EXPECT_EQ(std::vector<uint8_t>(std::begin(port.BusGuid), std::end(port.BusGuid)),
              control::GuidBlob("{C8EBDFB0-B510-11D0-80E5-00A0C92C3A5C}"));
    EXPECT_EQ(port.Config, nullptr);
}

TEST_F(PortPropertiesTest, TheBoxOfAFullyPopulatedPort) {
    PortMonitor& port = NewPort();
    ASSERT_TRUE(FetchProperties(port, Arrive(emu::ModemPort(L"COM1", 1))));
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, nullptr, nullptr);
    auto box = testsupport::CaptureMessageBox([&] { ShowProperties(port, owner); });
    DestroyWindow(owner);
    EXPECT_EQ(box, testsupport::OkBox("Port properties", BoxText(&BoxLine::Full),
                                      testsupport::MessageBoxIcon::Information, owner));
}

TEST_F(PortPropertiesTest, AnAllZeroHeaderAsksFor99BytesAndShowsAbsentValues) {
    PortPropertyHeader header = Arrive(emu::EmptyPort());
    PortMonitor& port = NewPort();
    ASSERT_TRUE(FetchProperties(port, header));
    EXPECT_EQ(control::RequestLog()[0].OutputSize, 99u);
    for (const uint8_t* data : port.PropertyData) EXPECT_EQ(data, nullptr);
    auto box = testsupport::CaptureMessageBox([&] { ShowProperties(port, nullptr); });
    EXPECT_EQ(box, testsupport::OkBox("Port properties", BoxText(&BoxLine::Empty),
                                      testsupport::MessageBoxIcon::Information));
}

TEST_F(PortPropertiesTest, AReplyOneByteOffFailsAndLeavesTheRecordAsConstructed) {
    PortPropertyHeader header = Arrive(emu::ModemPort(L"COM1", 1));
    for (int32_t delta : {-1, +1}) {
        control::InjectFault(IOCTL_LINE_GET_PORT_PROPERTIES, {.FaultKind = Kind::ReplySizeDelta, .SizeDelta = delta});
        PortMonitor& port = NewPort();
        EXPECT_FALSE(FetchProperties(port, header)) << "delta " << delta;
        ExpectAsConstructed(port);
    }
}

TEST_F(PortPropertiesTest, AFailedOrPendingRequestFollowsTheCompletionRule) {
    PortPropertyHeader header = Arrive(emu::ModemPort(L"COM1", 1));
    control::InjectFault(IOCTL_LINE_GET_PORT_PROPERTIES, {.FaultKind = Kind::CompleteLater});
    PortMonitor& pending = NewPort();
    EXPECT_TRUE(FetchProperties(pending, header));
    EXPECT_STREQ(pending.ComPort, "COM1");

    control::InjectFault(IOCTL_LINE_GET_PORT_PROPERTIES, {.FaultKind = Kind::FailAfterPending});
    PortMonitor& failed = NewPort();
    EXPECT_FALSE(FetchProperties(failed, header));
    ExpectAsConstructed(failed);
}

TEST_F(PortPropertiesTest, NothingIsSentWithoutADeviceOrForAnOverflowingHeader) {
    PortPropertyHeader header = Arrive(emu::ModemPort(L"COM1", 1));
    PortMonitor noDevice(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FetchProperties(noDevice, header));

    PortPropertyHeader hostile = header;
    hostile.Lengths[0] = 0xFFFFFFFFu;  // 32-bit sum wraps to a tiny buffer
    PortMonitor& port = NewPort();
    EXPECT_FALSE(FetchProperties(port, hostile));
    ExpectAsConstructed(port);
    hostile = header;
    hostile.Lengths[7] = 2u * 1024 * 1024;
    EXPECT_FALSE(FetchProperties(port, hostile));
    EXPECT_TRUE(control::RequestLog().empty());
}

TEST_F(PortPropertiesTest, AFriendlyNameOutsideTheCodePageStaysNull) {
    PortMonitor& port = NewPort();
    ASSERT_TRUE(FetchProperties(port, Arrive(emu::ForeignNamePort())));
    EXPECT_EQ(GetFriendlyName(port), nullptr);
    EXPECT_STREQ(port.ComPort, "COM9") << "the other texts are kept";
}

TEST_F(PortPropertiesTest, PropertiesTooShortForTheirKindCountAsAbsent) {
    control::PortBlobs blobs;
    blobs.Properties[kPropAddress] = {0x34, 0x12};         // a number needs 4 bytes
    blobs.Properties[kPropInterfaceType] = {5, 0, 0};
    blobs.Properties[kPropBusNumber] = {7, 0, 0, 0, 0xFF};  // longer is fine: first 4 bytes
    blobs.Properties[kPropBusGuid] = {1, 2, 3, 4, 5, 6, 7, 8};  // a GUID needs 16
    blobs.Properties[kPropDescription] = {'A', 0, 'B', 0};  // no terminator
    blobs.Properties[kPropConfig] = {0xDE, 0xAD};
    PortMonitor& port = NewPort();
    ASSERT_TRUE(FetchProperties(port, Arrive(blobs)));
    EXPECT_EQ(port.Address, 0xFFFFFFFFu);
    EXPECT_EQ(port.InterfaceType, -1);
    EXPECT_EQ(port.BusNumber, 7u);
    for (uint8_t byte : port.BusGuid) EXPECT_EQ(byte, 0);
    EXPECT_STREQ(port.Description, "AB");
    ASSERT_NE(port.Config, nullptr);
    EXPECT_EQ(port.Config[0], 0xDE);
    // Description (4 bytes and its spare byte), then the spare bytes of the
    // absent properties 1 and 2.
    EXPECT_EQ(port.Config - port.PropertyReply, 80 + 5 + 1 + 1);
}

TEST_F(PortPropertiesTest, ReleaseStorageFreesEverythingAndClearsTheHeader) {
    PortMonitor& port = NewPort();
    ASSERT_TRUE(FetchProperties(port, Arrive(emu::ModemPort(L"COM3", 3))));
    ReleaseStorage(port);
    EXPECT_EQ(port.FriendlyName, nullptr);
    EXPECT_EQ(port.ComPort, nullptr);
    EXPECT_EQ(port.PropertyReply, nullptr);
    EXPECT_EQ(port.Header.PortKey, 0u);
    EXPECT_EQ(port.Header.Lengths[9], 0u);
}

TEST(PropertiesText, ALongTextIsCutAndTerminated) {
    PortMonitor port(INVALID_HANDLE_VALUE);
    std::string longText(3000, 'x');
    port.Description = longText.data();
    char text[kPropertiesTextCapacity];
    std::memset(text, 'Q', sizeof text);
    FormatPropertiesText(port, text, sizeof text);
    EXPECT_EQ(std::strlen(text), kPropertiesTextCapacity - 1);
    port.Description = nullptr;
}

}  // namespace
