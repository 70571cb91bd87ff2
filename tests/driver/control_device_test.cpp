// The control device and its device-wide requests against the stand-in:
// the configuration record's bytes as the driver receives them, the restart
// request of the persistent mode, and how each request is traced.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "driver/capture_options.h"
#include "driver/control_device.h"
#include "wire/request_codes.h"
#include "emulator/control/test_control.h"
#include "support/emulated_driver.h"
#include "system/system_calls.h"
#include "traced_calls.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using Fault = control::RequestFault;
using testsupport::TracedCall;
using testsupport::TracedCalls;

// An information reply whose every byte is distinct, so that each byte of
// the configuration record can be traced to its source.
std::vector<uint8_t> DistinctReply() {
    std::vector<uint8_t> reply(20);
    for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(0xA0 + i);
    return reply;
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

Fault MakeFault(Fault::Kind kind, DWORD error = ERROR_GEN_FAILURE) { return {.FaultKind = kind, .Error = error}; }

class ControlDeviceTest : public testing::Test {
protected:
    void SetUp() override {
        testsupport::StartCleanEmulatedDriver();
        ASSERT_TRUE(OpenControlDevice(device_));
        control::SetDriverInfoReply(reply_);
        control::ClearRequestLog();
        ClearTraceRecords();
        CaptureOptions = 0;
    }
    void TearDown() override {
        CloseControlDevice(device_);
        CaptureOptions = 0;
        control::ResetDriver();
        control::ResetServices();
    }

    // The configuration record that the driver received last.
    std::vector<uint8_t> SentConfiguration(const char* settingsText) {
        control::ClearRequestLog();
        ConfigureDriver(device_, settingsText);
        auto log = control::RequestLog();
        EXPECT_EQ(log.size(), 2u);
        if (log.size() != 2) return {};
        EXPECT_EQ(log[0].Code, IOCTL_LINE_GET_DRIVER_INFO);
        EXPECT_TRUE(log[0].Input.empty());
        EXPECT_EQ(log[0].OutputSize, 20u);
        EXPECT_EQ(log[1].Code, IOCTL_LINE_SET_CONFIG);
        EXPECT_EQ(log[1].OutputSize, 0u);
        EXPECT_EQ(log[1].Input.size(), 520u);
        return log[1].Input;
    }

    // The reply's bytes from `from` up to `to`.
    std::string Reply(size_t from, size_t to) const { return std::string(reply_.begin() + from, reply_.begin() + to); }

    // A record of 520 bytes with the settings marker given (20 with a text,
    // 4 without), the reply's bytes left where the configuration has no
    // field (8, 9 and 11 to 15), byte 10 set, and from byte 16 on the bytes given.
    void ExpectRecord(const std::vector<uint8_t>& record, uint32_t marker, const std::string& fromByte16) {
        ASSERT_EQ(record.size(), 520u);
        EXPECT_EQ(U32At(record, 0), 520u);
        EXPECT_EQ(U32At(record, 4), marker);
        EXPECT_EQ(std::string(record.begin() + 8, record.begin() + 16), Reply(8, 10) + '\1' + Reply(11, 16));
        EXPECT_EQ(std::string(record.begin() + 16, record.end()), fromByte16);
    }

    const std::vector<uint8_t> reply_ = DistinctReply();
    HANDLE device_ = INVALID_HANDLE_VALUE;
};

TEST_F(ControlDeviceTest, ConfigurationRecordWithoutAndWithSettingsText) {
    ExpectRecord(SentConfiguration(nullptr), 4, Reply(16, 20) + std::string(500, '\0'));
    EXPECT_EQ(CaptureOptions, U32At(reply_, 12));
    // An empty text is its terminator alone.
    ExpectRecord(SentConfiguration(""), 20, '\0' + Reply(17, 20) + std::string(500, '\0'));
}

TEST_F(ControlDeviceTest, LongSettingsTextsFillTheRecordAndAreCutAt503) {
    std::string text(600, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);

    // The terminator is the record's last byte.
    std::string exact = text.substr(0, 503);
    ExpectRecord(SentConfiguration(exact.c_str()), 20, exact + '\0');
    ExpectRecord(SentConfiguration(text.c_str()), 20, exact + '\0');
    EXPECT_EQ(control::Driver().SettingsText, exact);
}

TEST_F(ControlDeviceTest, NoConfigurationWithoutAFullInformationReply) {
    control::SetDriverInfoReply(std::vector<uint8_t>(reply_.begin(), reply_.begin() + 19));
    ConfigureDriver(device_, "x");
    EXPECT_EQ(control::RequestLog().size(), 1u);
    EXPECT_EQ(CaptureOptions, 0u);
    EXPECT_FALSE(control::Driver().Configured);

    control::SetDriverInfoReply(reply_);
    control::InjectFault(IOCTL_LINE_GET_DRIVER_INFO, MakeFault(Fault::Kind::FailAfterPending));
    ConfigureDriver(device_, "x");
    EXPECT_EQ(CaptureOptions, 0u);
    EXPECT_FALSE(control::Driver().Configured);
    EXPECT_TRUE(TracedCalls().empty()) << "the information request is not traced";

    // A reply that completes later is as good as one at once.
    control::InjectFault(IOCTL_LINE_GET_DRIVER_INFO, MakeFault(Fault::Kind::CompleteLater));
    ConfigureDriver(device_, "x");
    EXPECT_EQ(CaptureOptions, U32At(reply_, 12));
    EXPECT_EQ(control::Driver().SettingsText, "x");
}

TEST_F(ControlDeviceTest, PersistentModeAndTheRestartRequest) {
    struct Case {
        const char* name;
        std::optional<Fault> fault;
        uint8_t restartNeeded;
        bool tracedSuccess;
        DWORD tracedError;
    } cases[] = {
        {"completed at once", std::nullopt, 0, true, 0},
        {"completed later", MakeFault(Fault::Kind::CompleteLater), 0, true, ERROR_IO_PENDING},
        {"restart asked at once", MakeFault(Fault::Kind::FailAtOnce, ERROR_MEDIA_CHANGED), 1,
         true, ERROR_MEDIA_CHANGED},
        {"the same error on completion asks for no restart",
         MakeFault(Fault::Kind::FailAfterPending, ERROR_MEDIA_CHANGED), 0, true,
         ERROR_IO_PENDING},
        {"other failure at once", MakeFault(Fault::Kind::FailAtOnce), 0, false,
         ERROR_GEN_FAILURE},
        {"other failure on completion", MakeFault(Fault::Kind::FailAfterPending), 0, true,
         ERROR_IO_PENDING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        control::ClearRequestLog();
        ClearTraceRecords();
        if (c.fault) control::InjectFault(IOCTL_LINE_SET_PERSISTENT, *c.fault);
        uint8_t restartNeeded = 7;
        SetPersistentMode(device_, 1, &restartNeeded);
        EXPECT_EQ(restartNeeded, c.restartNeeded);
        auto log = control::RequestLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].Input, std::vector<uint8_t>{1});
        EXPECT_EQ(log[0].OutputSize, 0u);
        EXPECT_EQ(TracedCalls(), (std::vector<TracedCall>{{"DeviceIoControl", c.tracedSuccess, c.tracedError}}));
    }

    // The uninstall course asks for no restart answer.
    control::ClearRequestLog();
    control::InjectFault(IOCTL_LINE_SET_PERSISTENT,
                         MakeFault(Fault::Kind::FailAtOnce, ERROR_MEDIA_CHANGED));
    SetPersistentMode(device_, 0, nullptr);
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_SET_PERSISTENT).at(0).Input, std::vector<uint8_t>{0});
}

TEST_F(ControlDeviceTest, ShutdownNoticeAndHowItIsTraced) {
    struct Case {
        const char* name;
        std::optional<Fault> fault;
        const char* tracedName;
        bool tracedSuccess;
        DWORD tracedError;
    } cases[] = {
        {"completed at once", std::nullopt, "DeviceIoControl", true, 0},
        {"failed at once", MakeFault(Fault::Kind::FailAtOnce), "DeviceIoControl", false,
         ERROR_GEN_FAILURE},
        {"completed later", MakeFault(Fault::Kind::CompleteLater), "GetOverlappedResult", true, 0},
        {"failed later", MakeFault(Fault::Kind::FailAfterPending), "GetOverlappedResult", false,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearTraceRecords();
        if (c.fault) control::InjectFault(IOCTL_LINE_SHUTDOWN, *c.fault);
        NotifyShutdown(device_, 1);
        EXPECT_EQ(TracedCalls(), (std::vector<TracedCall>{{c.tracedName, c.tracedSuccess, c.tracedError}}));
    }
    auto log = control::RequestLog(IOCTL_LINE_SHUTDOWN);
    ASSERT_EQ(log.size(), 4u);
    for (const auto& entry : log) EXPECT_EQ(entry.Input, std::vector<uint8_t>{1});
    EXPECT_EQ(control::Driver().ShutdownValues, (std::vector<uint8_t>{1, 1})) << "the two that got through";
}

TEST_F(ControlDeviceTest, CloseTracesOnceAndLeavesTheInvalidValue) {
    CloseControlDevice(device_);
    EXPECT_EQ(device_, INVALID_HANDLE_VALUE);
    CloseControlDevice(device_);
    EXPECT_EQ(TracedCalls(), (std::vector<TracedCall>{{"CloseHandle", true, 0}}));

    // Nothing is sent without a device; the restart answer is still cleared.
    uint8_t restartNeeded = 7;
    ConfigureDriver(device_, nullptr);
    SetPersistentMode(device_, 1, &restartNeeded);
    NotifyShutdown(device_, 0);
    EXPECT_EQ(restartNeeded, 0);
    EXPECT_TRUE(control::RequestLog().empty());
}

TEST(ControlDeviceOpen, AFailedOpenDropsDeviceEventAndSilencesTheRequests) {
    control::ResetServices();
    control::ResetDriver();
    ClearTraceRecords();
    HANDLE device = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(OpenControlDevice(device)) << "the control driver does not run";
    EXPECT_EQ(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(DeviceEvent, nullptr);
    EXPECT_EQ(TracedCalls(), (std::vector<TracedCall>{{"CloseHandle", true, 0}}));

    // Even with a device handle, nothing goes out while DeviceEvent is null.
    testsupport::StartCleanEmulatedDriver();
    HANDLE other = testsupport::OpenEmulatedDevice();
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ConfigureDriver(other, nullptr);
    SetPersistentMode(other, 1, nullptr);
    NotifyShutdown(other, 0);
    EXPECT_TRUE(control::RequestLog().empty());
    seam::CloseHandle(other);

    ASSERT_TRUE(OpenControlDevice(device));
    EXPECT_NE(DeviceEvent, nullptr);
    CloseControlDevice(device);
    control::ResetDriver();
    control::ResetServices();
}

}  // namespace
