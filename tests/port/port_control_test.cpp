// The per-port control requests against the stand-in's filter driver and its
// simulated modem: the records on the wire (read from the request log), the
// pause flags, the command channel, and what the filter records meanwhile.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "wire/request_codes.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "port/capture_requests.h"
#include "port/capture_ring.h"
#include "port/port_control.h"
#include "port/port_monitor.h"
#include "support/emulated_driver.h"
#include "support/wire_client.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using Kind = control::RequestFault::Kind;
using testsupport::PortKeyAnd;

// The records pending in the ring, as "RX:..." and "TX:..." runs.
std::string Recorded(CaptureRing* ring) {
    std::string runs;
    uint8_t direction = 0;
    for (const testsupport::TakenRecord& record : testsupport::TakeRecords(ring)) {
        if (record.Direction != direction) {
            direction = record.Direction;
            runs += direction == kDirectionRx ? "|RX:" : "|TX:";
        }
        runs.push_back(static_cast<char>(record.Data));
    }
    return runs;
}

class PortControlTest : public testsupport::EmulatedDeviceTest {
protected:
    void SetUp() override {
        EmulatedDeviceTest::SetUp();
        PortPropertyHeader header = testsupport::ArriveAndTakeHeader(device_, emu::ModemPort(L"COM1", 1));
        key_ = header.PortKey;
        port_ = new PortMonitor(device_);
        ASSERT_TRUE(FetchProperties(*port_, header));
    }
    void TearDown() override {
        ReleaseStorage(*port_);
        delete port_;
        EmulatedDeviceTest::TearDown();
    }
    std::vector<control::LoggedRequest> Log(uint32_t code) { return control::RequestLog(code); }
    void FailNext(uint32_t code, Kind kind) { control::InjectFault(code, {.FaultKind = kind}); }
    // The directions paused by the port's flags, then by the driver for key_, as "TX RX|TX RX", '-' for running.
    std::string Paused(const PortMonitor& port) {
        auto flags = [](bool tx, bool rx) { return std::string(tx ? "TX" : "-") + (rx ? " RX" : " -"); };
        return flags(IsPaused(port, PauseFlag::Tx), IsPaused(port, PauseFlag::Rx)) + "|" +
               flags(control::IsDirectionPaused(key_, kDirectionTx), control::IsDirectionPaused(key_, kDirectionRx));
    }

    PortMonitor* port_ = nullptr;
    uint32_t key_ = 0;
};

TEST_F(PortControlTest, NothingIsSentWithoutARingOrADevice) {
    control::ClearRequestLog();
    PortMonitor noDevice(INVALID_HANDLE_VALUE);
    noDevice.CaptureRing = AllocateCaptureRing(kCaptureCapacity, key_);
    for (PortMonitor* port : {port_, &noDevice}) {
        char buffer[8];
        EXPECT_FALSE(TogglePause(*port, true, true));
        EXPECT_FALSE(OpenCommandChannel(*port));
        EXPECT_EQ(WriteCommand(*port, "AT\r", 3), 0u);
        EXPECT_EQ(ReadResponse(*port, buffer, sizeof buffer), 0u);
        SendEscapeFollowup(*port, {.First = true, .Second = true});
        CloseCommandChannel(*port);
        EXPECT_EQ(Paused(*port), "- -|- -");
    }
    ReleaseStorage(noDevice);
    ASSERT_TRUE(AttachCapture(*port_));
    CloseCommandChannel(*port_);  // no open has ever succeeded
    EXPECT_EQ(control::RequestLog().size(), 1u) << "only the attach went out";
}

TEST_F(PortControlTest, PausesAndWhatTheFilterRecords) {
    ASSERT_TRUE(AttachCapture(*port_));

    // Pause TX: transmitted bytes are no longer recorded.
    EXPECT_TRUE(TogglePause(*port_, true, false));
    EXPECT_EQ(Log(IOCTL_LINE_TOGGLE_PAUSE).back().Input, PortKeyAnd(key_, std::string("\1\0\0\0", 4)));
    EXPECT_EQ(Paused(*port_), "TX -|TX -");
    control::PushBytes(key_, kDirectionTx, "ATZ\r");
    control::PushBytes(key_, kDirectionRx, "OK");
    EXPECT_EQ(Recorded(port_->CaptureRing), "|RX:OK");
    // Both named: TX resumes, RX pauses.
    EXPECT_TRUE(TogglePause(*port_, true, true));
    EXPECT_EQ(Paused(*port_), "- RX|- RX");

    // A toggle the driver rejects, at once or after pending, flips nothing.
    FailNext(IOCTL_LINE_TOGGLE_PAUSE, Kind::FailAtOnce);
    EXPECT_FALSE(TogglePause(*port_, true, false));
    FailNext(IOCTL_LINE_TOGGLE_PAUSE, Kind::FailAfterPending);
    EXPECT_FALSE(TogglePause(*port_, false, true));
    EXPECT_EQ(Paused(*port_), "- RX|- RX");
    EXPECT_TRUE(TogglePause(*port_, false, true));
}

TEST_F(PortControlTest, TheCommandChannelAndWhatTheFilterRecords) {
    ASSERT_TRUE(AttachCapture(*port_));
    // A failed open sets nothing, and a close after it sends nothing.
    FailNext(IOCTL_LINE_SET_COMMAND_MODE, Kind::FailAtOnce);
    EXPECT_FALSE(OpenCommandChannel(*port_));
    CloseCommandChannel(*port_);
    EXPECT_EQ(Log(IOCTL_LINE_SET_COMMAND_MODE).size(), 1u);
    EXPECT_EQ(port_->CommandChannelOpen, 0);

    ASSERT_TRUE(OpenCommandChannel(*port_));
    EXPECT_EQ(Log(IOCTL_LINE_SET_COMMAND_MODE).back().Input,
              PortKeyAnd(key_, std::string("\1\0\0\0\xFF\xFF\xFF\xFF", 8) + std::string(16, '\0')));
    EXPECT_TRUE(control::IsCommandChannelOpen(key_));

    // "AT" and CR go out as they are; the modem's echo and answer come back
    // and both directions pass the filter.
    EXPECT_EQ(WriteCommand(*port_, "AT\r", 3), 3u);
    EXPECT_EQ(Log(IOCTL_LINE_WRITE_COMMAND).back().Input, PortKeyAnd(key_, "AT\r"));
    EXPECT_EQ(Recorded(port_->CaptureRing), "|TX:AT\r|RX:AT\r\r\nOK\r\n");
    char buffer[64] = {};
    EXPECT_EQ(ReadResponse(*port_, buffer, 4), 4u) << "never more than the size offered";
    EXPECT_EQ(std::string(buffer, 4), "AT\r\r");
    EXPECT_EQ(ReadResponse(*port_, buffer, 0), 0u);
    EXPECT_EQ(Log(IOCTL_LINE_READ_RESPONSE).back().OutputSize, 0u);
    EXPECT_EQ(Log(IOCTL_LINE_READ_RESPONSE).back().Input, control::NumberBlob(key_));
    EXPECT_EQ(ReadResponse(*port_, buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), "\nOK\r\n");
    EXPECT_EQ(ReadResponse(*port_, buffer, sizeof buffer), 0u) << "returns at once with nothing";

    // The escape: three characters and no terminator; the follow-up with both flags.
    EXPECT_EQ(WriteCommand(*port_, "+++", 3), 3u);
    EXPECT_EQ(Log(IOCTL_LINE_WRITE_COMMAND).back().Input.size(), 7u);
    SendEscapeFollowup(*port_, {.First = true, .Second = true});
    EXPECT_EQ(Log(IOCTL_LINE_ESCAPE_FOLLOWUP).back().Input, PortKeyAnd(key_, std::string("\1\1\0\0", 4)));

    // Once a channel was open, every close sends its all-zero record, also
    // after a failed open.
    FailNext(IOCTL_LINE_SET_COMMAND_MODE, Kind::FailAtOnce);
    EXPECT_FALSE(OpenCommandChannel(*port_));
    CloseCommandChannel(*port_);
    EXPECT_EQ(Log(IOCTL_LINE_SET_COMMAND_MODE).back().Input, PortKeyAnd(key_, std::string(24, '\0')));
    EXPECT_FALSE(control::IsCommandChannelOpen(key_));
    EXPECT_EQ(WriteCommand(*port_, "AT\r", 3), 0u) << "a closed channel takes nothing";
    EXPECT_EQ(Log(IOCTL_LINE_WRITE_COMMAND).back().Error, static_cast<DWORD>(ERROR_NOT_READY));
}

}  // namespace
