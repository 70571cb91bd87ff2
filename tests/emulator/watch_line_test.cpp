// The stand-in's watch line: the feed of quorvel-watch, one FIFO that
// carries many ports which come and go. The test writes the feed itself,
// record by record, into a FIFO of the lab, and the monitor runs in-process
// and reads it through the settings text's watch statement.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/control/test_control.h"
#include "emulator/formats/port_arrival.h"
#include "emulator/formats/tap_feed.h"
#include "emulator/runner/scenario_runner.h"
#include "emulator/scenario/scenario_parser.h"
#include "port/port_list.h"
#include "support/message_pump.h"
#include "support/monitor_fixture.h"
#include "support/serial_lines.h"
#include "ui/window_commands.h"
#include "wire/port_property_records.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using testsupport::PumpUntil;
using Lines = std::vector<std::string>;

// The properties of a watched port whose feed gives them all: a USB adapter.
// The friendly name's UTF-8 holds characters of two, three and four bytes,
// and the manufacturer a sequence cut short and a stray continuation byte.
tapfeed::PortArrival UsbAdapter() {
    tapfeed::PortArrival port;
    port.Name = "ttyUSB0";
    port.Friendly = "Messger\xC3\xA4t \xE2\x9C\x93 \xF0\x9F\x98\x80";
    port.Description = "FT232R USB UART";
    port.Manufacturer = "FTDI \xE2\x9C! \x80";
    port.Hardware = "USB\\VID_0403&PID_6001";
    port.Location = "/dev/ttyUSB0";
    port.Driver = "ftdi_sio";
    port.Serial = "A50285BI";
    port.Bus = "usb";
    return port;
}

control::PortBlobs UsbAdapterBlobs() {
    control::PortBlobs blobs;
    auto& p = blobs.Properties;
    p[kPropDescription] = control::TextBlob(L"FT232R USB UART");
    p[kPropHardwareId] = control::TextListBlob({L"USB\\VID_0403&PID_6001\\A50285BI", L"USB\\VID_0403&PID_6001"});
    p[kPropCompatibleIds] = control::TextListBlob({L"QVLWATCH\\usb"});
    p[kPropClassName] = control::TextBlob(L"Ports");
    p[kPropClassGuid] = control::TextBlob(L"{4D36E978-E325-11CE-BFC1-08002BE10318}");
    p[kPropDriverKey] = control::TextBlob(L"ftdi_sio");
    p[kPropManufacturer] = control::TextBlob(L"FTDI \xFFFD! \xFFFD");
    p[kPropFriendlyName] = control::TextBlob(L"Messger\x00E4t \x2713 \xD83D\xDE00");
    p[kPropLocation] = control::TextBlob(L"/dev/ttyUSB0");
    p[kPropPdoName] = control::TextBlob(L"\\Device\\QvlWatch-1");
    p[kPropBusGuid] = control::GuidBlob("{9D7DEBBC-C85D-11D1-9EB4-006008C3A19A}");
    p[kPropEnumerator] = control::TextBlob(L"QVLWATCH");
    p[kPropAddress] = control::NumberBlob(1);
    p[kPropUiNumber] = control::NumberBlob(1);
    p[kPropComPort] = control::TextBlob(L"ttyUSB0");
    return blobs;
}

// A port on the machine's own serial port, written by hand: a key that the
// stand-in does not know, a line without '=', a CR before a line's end, a
// last line without one; no hardware id, serial number or manufacturer.
constexpr char kBoardPort[] =
    "name=ttyS0\nfriendly=Communications Port (ttyS0)\r\nspeed=115200\nno key here\n"
    "description=16550A UART\nlocation=/dev/ttyS0\ndriver=serial\nbus=pnp";

control::PortBlobs BoardPortBlobs() {
    control::PortBlobs blobs;
    auto& p = blobs.Properties;
    p[kPropDescription] = control::TextBlob(L"16550A UART");
    p[kPropCompatibleIds] = control::TextListBlob({L"QVLWATCH\\pnp"});
    p[kPropClassName] = control::TextBlob(L"Ports");
    p[kPropClassGuid] = control::TextBlob(L"{4D36E978-E325-11CE-BFC1-08002BE10318}");
    p[kPropDriverKey] = control::TextBlob(L"serial");
    p[kPropFriendlyName] = control::TextBlob(L"Communications Port (ttyS0)");
    p[kPropLocation] = control::TextBlob(L"/dev/ttyS0");
    p[kPropPdoName] = control::TextBlob(L"\\Device\\QvlWatch-2");
    p[kPropBusGuid] = control::GuidBlob("{E676F854-D87D-11D0-92B2-00A0C9055FC5}");
    p[kPropEnumerator] = control::TextBlob(L"QVLWATCH");
    p[kPropAddress] = control::NumberBlob(2);
    p[kPropUiNumber] = control::NumberBlob(2);
    p[kPropComPort] = control::TextBlob(L"ttyS0");
    return blobs;
}

// A port that arrives again: only its name and friendly name given.
control::PortBlobs PlainPortBlobs() {
    control::PortBlobs blobs;
    auto& p = blobs.Properties;
    p[kPropClassName] = control::TextBlob(L"Ports");
    p[kPropClassGuid] = control::TextBlob(L"{4D36E978-E325-11CE-BFC1-08002BE10318}");
    p[kPropFriendlyName] = control::TextBlob(L"USB serial, plugged in again");
    p[kPropPdoName] = control::TextBlob(L"\\Device\\QvlWatch-1");
    p[kPropEnumerator] = control::TextBlob(L"QVLWATCH");
    p[kPropAddress] = control::NumberBlob(1);
    p[kPropUiNumber] = control::NumberBlob(1);
    p[kPropComPort] = control::TextBlob(L"ttyUSB0");
    return blobs;
}

class WatchLineTest : public testsupport::MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        ASSERT_TRUE(lab_.Ready()) << "the lab's folder and its programs are needed";
    }

    void TearDown() override {
        if (feed_ != INVALID_HANDLE_VALUE) CloseHandle(feed_);
        MonitorTest::TearDown();
    }

    // The watch's folder in the lab with its feed, a FIFO that the test
    // opens for reading and writing, so that neither its open nor the
    // stand-in's waits for the other end; the feed ends when the test
    // closes it (EndFeed).
    bool MakeFeed() {
        if (!CreateDirectoryA(lab_.WindowsPath("watch").c_str(), nullptr) ||
            !lab_.RunProgram({"mkfifo", "-m", "600", lab_.Path("watch/feed")})) {
            return false;
        }
        feed_ = CreateFileA((lab_.WindowsPath("watch") + "\\feed").c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        return feed_ != INVALID_HANDLE_VALUE;
    }

    void EndFeed() {
        CloseHandle(feed_);
        feed_ = INVALID_HANDLE_VALUE;
    }

    // Queues a record of the feed; Send writes the queued ones at once, so
    // that the stand-in reads them together.
    void Add(tapfeed::FeedKind kind, uint16_t port, uint64_t microseconds, std::string_view payload = {}) {
        pending_ += tapfeed::FeedRecord(kind, microseconds, payload, port);
    }

    void Send() {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(feed_, pending_.data(), static_cast<DWORD>(pending_.size()), &written, nullptr))
            << GetLastError();
        ASSERT_EQ(written, pending_.size());
        pending_.clear();
    }

    // The monitor's port with this COM name (its "name" in the feed), or null.
    static PortMonitor* PortNamed(const char* name) {
        for (PortMonitor* port = PortList; port; port = port->Next) {
            if (port->ComPort && std::strcmp(port->ComPort, name) == 0) return port;
        }
        return nullptr;
    }

    // What the stand-in wrote into the port's ring, one line per run of
    // records of one direction code and time: "CODE @MICROSECONDS BYTES".
    static Lines Story(uint32_t key) {
        Lines story;
        const control::CapturedByte* last = nullptr;
        std::vector<control::CapturedByte> records = control::WrittenRecords(key);
        for (const control::CapturedByte& record : records) {
            if (!last || last->Direction != record.Direction || last->Timestamp != record.Timestamp) {
                story.push_back(std::to_string(record.Direction) + " @" + std::to_string(record.Timestamp) + " ");
            }
            story.back() += static_cast<char>(record.Data);
            last = &record;
        }
        return story;
    }

    static bool StoryReaches(uint32_t key, size_t lines) { return Story(key).size() >= lines; }

    // Every property blob of the port as the monitor received it, against
    // the expected ones.
    static void ExpectProperties(const PortMonitor* port, const control::PortBlobs& expected) {
        ASSERT_NE(port, nullptr);
        for (uint32_t i = 0; i < kPropertyCount; ++i) {
            const uint8_t* data = port->PropertyData[i];
            std::vector<uint8_t> blob;
            if (data) blob.assign(data, data + port->Header.Lengths[i]);
            EXPECT_EQ(blob, expected.Properties[i]) << "property " << i << " of " << port->ComPort;
        }
    }

    // The feed's start: its hello, three ports (the third without a name),
    // and the first two ports' traffic and events interleaved (and some for
    // the third), all before the monitor has seen any of them.
    void AddFirstRecords() {
        Add(tapfeed::kHello, 0, 0, std::string(1, static_cast<char>(tapfeed::kModeWatch)));
        Add(tapfeed::kPortArrived, 1, 10, tapfeed::PortArrivalText(UsbAdapter()));
        Add(tapfeed::kPortArrived, 3, 11, "friendly=A port without a name\n");
        Add(tapfeed::kPortArrived, 2, 12, kBoardPort);
        Add(tapfeed::kEvent, 1, 100, "[115200 8N1]");
        Add(tapfeed::kTx, 1, 110, "AT\r");
        Add(tapfeed::kRx, 2, 120, "login: ");
        Add(tapfeed::kRx, 1, 130, "\r\nOK\r\n");
        Add(tapfeed::kEvent, 2, 140, "[application opened]");
        Add(tapfeed::kEvent, 1, 150, "[CTS on]");
        Add(tapfeed::kTx, 2, 160, "root\r");
        Add(tapfeed::kRx, 3, 170, "nobody's");
    }

    // The first port goes; what comes for its number then is dropped, while
    // the second port goes on.
    void AddFirstPortsLeave() {
        Add(tapfeed::kPortLeft, 1, 200);
        Add(tapfeed::kTx, 1, 210, "gone\r");
        Add(tapfeed::kRx, 2, 220, "Password: ");
        Add(tapfeed::kEvent, 2, 230, "[DSR off]");
    }

    // The first port's number arrives again, with traffic of its own.
    void AddFirstNumberAgain() {
        tapfeed::PortArrival again;
        again.Name = "ttyUSB0";
        again.Friendly = "USB serial, plugged in again";
        Add(tapfeed::kPortArrived, 1, 300, tapfeed::PortArrivalText(again));
        Add(tapfeed::kEvent, 1, 310, "[9600 8N1]");
        Add(tapfeed::kRx, 1, 320, "again");
        Add(tapfeed::kTx, 2, 330, "x");
    }

    testsupport::LineLab lab_;
    HANDLE feed_ = INVALID_HANDLE_VALUE;
    std::string pending_;
};

// A watch's feed walked whole: its hello; two ports arrive with their
// properties (a third without a name is ignored), and their interleaved
// traffic and events, sent before either capture is attached, land each in
// its own port, in order, on the feed's clock, each port's events taking
// the two event codes in turn; a watched port refuses the command channel;
// one port leaves (what comes for it then is dropped) while the other goes
// on; its number arrives again as a new port; the feed's end takes every
// port away.
TEST_F(WatchLineTest, AWatchsPortsArriveCarryTheirTrafficAndLeaveAsItsFeedSays) {
    ASSERT_TRUE(MakeFeed());
    control::KeepWrittenRecords(true);
    AddFirstRecords();
    Send();
    emu::StartScenario(emu::scenario::ParseScenario("watch " + lab_.WindowsPath("watch")));
    ASSERT_TRUE(PumpUntil([] { return PortNamed("ttyUSB0") && PortNamed("ttyS0"); }, 10000)) << "two ports arrive";
    uint32_t usb = PortNamed("ttyUSB0")->Header.PortKey, board = PortNamed("ttyS0")->Header.PortKey;
    ExpectProperties(PortNamed("ttyUSB0"), UsbAdapterBlobs());
    ExpectProperties(PortNamed("ttyS0"), BoardPortBlobs());
    Lines boardStory = {"2 @120 login: ", "4 @140 [application opened]", "3 @160 root\r"};
    EXPECT_TRUE(PumpUntil([&] { return StoryReaches(usb, 4) && StoryReaches(board, 3); }, 10000));
    EXPECT_EQ(Story(usb), (Lines{"4 @100 [115200 8N1]", "3 @110 AT\r", "2 @130 \r\nOK\r\n", "5 @150 [CTS on]"}));
    EXPECT_EQ(Story(board), boardStory);
    EXPECT_EQ(PortCount, 2u) << "a port without a name does not arrive";

    SetFocus(PaneOf(PortNamed("ttyUSB0")));
    SendMessageA(main_, WM_COMMAND, MAKEWPARAM(ID_PAUSE_BOTH, 0), 0);
    SetFocus(command_);
    EXPECT_FALSE(control::IsCommandChannelOpen(usb)) << "the watch never writes to a line";
    EXPECT_FALSE(IsWindowEnabled(command_));

    AddFirstPortsLeave();
    Send();
    ASSERT_TRUE(PumpUntil([] { return PortCount == 1 && !PortNamed("ttyUSB0"); }, 10000)) << "the first port leaves";
    boardStory.insert(boardStory.end(), {"2 @220 Password: ", "5 @230 [DSR off]"});
    EXPECT_TRUE(PumpUntil([&] { return StoryReaches(board, 5); }, 10000));
    EXPECT_EQ(Story(board), boardStory);

    AddFirstNumberAgain();
    Send();
    ASSERT_TRUE(PumpUntil([] { return PortNamed("ttyUSB0") != nullptr; }, 10000)) << "the number arrives again";
    uint32_t usbAgain = PortNamed("ttyUSB0")->Header.PortKey;
    EXPECT_NE(usbAgain, usb) << "a new port";
    ExpectProperties(PortNamed("ttyUSB0"), PlainPortBlobs());
    boardStory.push_back("3 @330 x");
    EXPECT_TRUE(PumpUntil([&] { return StoryReaches(usbAgain, 2) && StoryReaches(board, 6); }, 10000));
    EXPECT_EQ(Story(usbAgain), (Lines{"4 @310 [9600 8N1]", "2 @320 again"})) << "its events take their codes anew";
    EXPECT_EQ(Story(board), boardStory);

    EndFeed();
    EXPECT_TRUE(PumpUntil([] { return PortCount == 0; }, 10000)) << "the feed's end takes every port away";
}

}  // namespace
