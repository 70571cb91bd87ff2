// The stand-in's control device: handles, completions as the system reports
// them, cancellation, the request log and the driver's first requests.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/request_codes.h"
#include "emulator/test_control.h"
#include "driver/port_property_records.h"
#include "support/emulated_driver.h"
#include "system/system_calls.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using Outcome = control::LoggedRequest::Outcome;

// One overlapped request with its own manual-reset event.
struct OverlappedRequest {
    OverlappedRequest() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~OverlappedRequest() { CloseHandle(overlapped.hEvent); }
    bool Signalled(DWORD waitMs = 0) const {
        return WaitForSingleObject(overlapped.hEvent, waitMs) == WAIT_OBJECT_0;
    }
    OVERLAPPED overlapped{};
};

control::PortBlobs ModemPort(const wchar_t* name) {
    control::PortBlobs port;
    port.Properties[kPropFriendlyName] = control::TextBlob(name);
    port.Properties[kPropAddress] = control::NumberBlob(7);
    return port;
}

class EmulatedControlDevice : public testsupport::EmulatedDeviceTest {
protected:
    // Issues a request with no input; returns the call's result.
    BOOL Issue(uint32_t code, void* output, DWORD outputSize, OverlappedRequest& request,
               const void* input = nullptr, DWORD inputSize = 0) {
        DWORD bytes = 0;
        return seam::DeviceIoControl(device_, code, const_cast<void*>(input), inputSize, output,
                                     outputSize, &bytes, &request.overlapped);
    }
};

TEST(EmulatedDeviceOpen, OpensOnlyWhileTheServiceRuns) {
    control::ResetServices();
    SetLastError(0);
    EXPECT_EQ(testsupport::OpenEmulatedDevice(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    testsupport::StartCleanEmulatedDriver();
    HANDLE first = testsupport::OpenEmulatedDevice();
    HANDLE second = testsupport::OpenEmulatedDevice();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);

    control::StopServiceFromOutside("Quorvel");
    EXPECT_EQ(testsupport::OpenEmulatedDevice(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(seam::CloseHandle(first));
    EXPECT_TRUE(seam::CloseHandle(second));
    EXPECT_FALSE(seam::CloseHandle(second)) << "a closed handle is gone";
    control::ResetServices();
}

TEST_F(EmulatedControlDevice, CompletionAtOnceReadsBackThroughTheSystem) {
    OverlappedRequest request;
    uint8_t reply[20] = {};
    ASSERT_TRUE(Issue(IOCTL_LINE_GET_DRIVER_INFO, reply, sizeof reply, request));
    EXPECT_TRUE(request.Signalled());
    DWORD bytes = 0;
    ASSERT_TRUE(GetOverlappedResult(device_, &request.overlapped, &bytes, FALSE));
    EXPECT_EQ(bytes, 20u);
    uint32_t length = 0, options = 0;
    std::memcpy(&length, reply, 4);
    std::memcpy(&options, reply + 12, 4);
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(options, 5u);
}

TEST_F(EmulatedControlDevice, PendingCompletionReadsBackThroughTheSystem) {
    OverlappedRequest request;
    uint8_t header[80];
    std::memset(header, 0xCC, sizeof header);
    ASSERT_FALSE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, header, sizeof header, request));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_FALSE(request.Signalled(50));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(device_, &request.overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_EQ(header[0], 0xCC) << "buffered output is written only at completion";

    uint32_t key = control::AddPort(ModemPort(L"Modem on COM1"));
    ASSERT_TRUE(request.Signalled(1000));
    ASSERT_TRUE(GetOverlappedResult(device_, &request.overlapped, &bytes, FALSE));
    EXPECT_EQ(bytes, 80u);
    PortPropertyHeader received;
    std::memcpy(&received, header, sizeof received);
    EXPECT_EQ(received.PortKey, key);
    EXPECT_EQ(received.Lengths[kPropFriendlyName], 28u);  // 13 characters and the terminator
    EXPECT_EQ(received.Lengths[kPropAddress], 4u);
    EXPECT_EQ(received.Lengths[kPropDescription], 0u);
}

TEST_F(EmulatedControlDevice, FailureAfterPendingKeepsItsError) {
    control::RequestFault fault;
    fault.FaultKind = control::RequestFault::Kind::FailAfterPending;
    fault.Error = ERROR_MEDIA_CHANGED;
    control::InjectFault(IOCTL_LINE_SET_PERSISTENT, fault);
    OverlappedRequest request;
    uint8_t flag = 1;
    ASSERT_FALSE(Issue(IOCTL_LINE_SET_PERSISTENT, nullptr, 0, request, &flag, 1));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(request.Signalled(2000));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(device_, &request.overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MEDIA_CHANGED));

    // The fault hit once; the next request completes normally.
    OverlappedRequest again;
    EXPECT_TRUE(Issue(IOCTL_LINE_SET_PERSISTENT, nullptr, 0, again, &flag, 1));
    EXPECT_EQ(control::Driver().PersistentFlag, 1);
}

TEST_F(EmulatedControlDevice, FailureAtOnceDoesNotSignal) {
    control::RequestFault fault;
    fault.Error = ERROR_MEDIA_CHANGED;
    control::InjectFault(IOCTL_LINE_SET_PERSISTENT, fault);
    OverlappedRequest request;
    SetEvent(request.overlapped.hEvent);  // the call must clear it
    uint8_t flag = 0;
    EXPECT_FALSE(Issue(IOCTL_LINE_SET_PERSISTENT, nullptr, 0, request, &flag, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MEDIA_CHANGED));
    EXPECT_FALSE(request.Signalled());

    OverlappedRequest unknown;
    EXPECT_FALSE(Issue(0x150044, nullptr, 0, unknown));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
}

// Issues an arrival wait on a thread of its own, which stays alive (its
// requests must outlive a cancel by another thread) until released.
struct ArrivalWaiter {
    explicit ArrivalWaiter(HANDLE device) : device(device) {
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~ArrivalWaiter() {
        SetEvent(release);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseHandle(issued);
        CloseHandle(release);
    }
    static DWORD WINAPI Run(LPVOID self) {
        auto* w = static_cast<ArrivalWaiter*>(self);
        seam::DeviceIoControl(w->device, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, w->header, 80,
                              nullptr, &w->request.overlapped);
        SetEvent(w->issued);
        WaitForSingleObject(w->release, INFINITE);
        return 0;
    }
    HANDLE device;
    OverlappedRequest request;
    uint8_t header[80] = {};
    HANDLE issued = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;
};

TEST_F(EmulatedControlDevice, CancelIoCancelsOnlyTheCallingThreadsRequests) {
    ArrivalWaiter other(device_);
    ASSERT_EQ(WaitForSingleObject(other.issued, 5000), WAIT_OBJECT_0);

    OverlappedRequest mine;
    uint8_t header[80];
    ASSERT_FALSE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, header, 80, mine));
    ASSERT_TRUE(seam::CancelIo(device_));
    ASSERT_TRUE(mine.Signalled());
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(device_, &mine.overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(other.request.Signalled(50)) << "another thread's request is not cancelled";
    EXPECT_EQ(control::PendingRequests(IOCTL_LINE_WAIT_PORT_ARRIVAL), 1u);

    // The arrival goes to the wait that is still pending.
    uint32_t key = control::AddPort(ModemPort(L"COM2"));
    ASSERT_TRUE(other.request.Signalled(1000));
    EXPECT_EQ(other.header[0], key & 0xFF);
}

TEST_F(EmulatedControlDevice, ClosingTheHandleCancelsItsRequests) {
    OverlappedRequest request;
    uint8_t header[80];
    ASSERT_FALSE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, header, 80, request));
    HANDLE device = device_;
    ASSERT_TRUE(seam::CloseHandle(device));
    device_ = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(request.Signalled());
    EXPECT_EQ(request.overlapped.Internal, 0xC0000120u);  // STATUS_CANCELLED
    EXPECT_EQ(control::PendingRequests(), 0u);
}

TEST_F(EmulatedControlDevice, ArrivalsAreReportedOnePerWaitInOrder) {
    uint32_t first = control::AddPort(ModemPort(L"COM1"));
    uint32_t second = control::AddPort(ModemPort(L"COM2"));
    uint32_t third = control::AddPort(ModemPort(L"COM3"));
    control::RemovePort(second);  // gone before it was reported
    for (uint32_t expected : {first, third}) {
        OverlappedRequest request;
        PortPropertyHeader header{};
        EXPECT_TRUE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, &header, 80, request));
        EXPECT_EQ(header.PortKey, expected);
    }
    OverlappedRequest last;
    PortPropertyHeader header{};
    EXPECT_FALSE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, &header, 80, last));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
}

TEST_F(EmulatedControlDevice, RequestLogRecordsEveryRequest) {
    control::ClearRequestLog();
    OverlappedRequest persistent;
    uint8_t flag = 1;
    ASSERT_TRUE(Issue(IOCTL_LINE_SET_PERSISTENT, nullptr, 0, persistent, &flag, 1));
    OverlappedRequest arrival;
    uint8_t header[80];
    ASSERT_FALSE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, header, 80, arrival));
    control::AddPort(ModemPort(L"COM1"));

    auto log = control::RequestLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Code, IOCTL_LINE_SET_PERSISTENT);
    EXPECT_EQ(log[0].ThreadId, GetCurrentThreadId());
    EXPECT_EQ(log[0].Input, std::vector<uint8_t>{1});
    EXPECT_EQ(log[0].OutputSize, 0u);
    EXPECT_EQ(log[0].Result, Outcome::CompletedAtOnce);
    EXPECT_EQ(log[1].Code, IOCTL_LINE_WAIT_PORT_ARRIVAL);
    EXPECT_TRUE(log[1].Input.empty());
    EXPECT_EQ(log[1].OutputSize, 80u);
    EXPECT_EQ(log[1].Result, Outcome::CompletedLater);
    EXPECT_EQ(log[1].BytesReturned, 80u);
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_SET_PERSISTENT).size(), 1u);
}

TEST_F(EmulatedControlDevice, ConfigurationAndShutdownAreKept) {
    std::vector<uint8_t> record(520, 0);
    record[0] = 0x08;
    record[1] = 0x02;
    std::memcpy(record.data() + 16, "ports=2", 8);
    OverlappedRequest config;
    ASSERT_TRUE(Issue(IOCTL_LINE_SET_CONFIG, nullptr, 0, config, record.data(), 520));
    OverlappedRequest shortConfig;
    EXPECT_FALSE(Issue(IOCTL_LINE_SET_CONFIG, nullptr, 0, shortConfig, record.data(), 519));
    uint8_t value = 1;
    OverlappedRequest shutdown;
    ASSERT_TRUE(Issue(IOCTL_LINE_SHUTDOWN, nullptr, 0, shutdown, &value, 1));

    auto driver = control::Driver();
    EXPECT_TRUE(driver.Configured);
    EXPECT_EQ(driver.ConfigRecord, record);
    EXPECT_EQ(driver.SettingsText, "ports=2");
    EXPECT_EQ(driver.ShutdownValues, std::vector<uint8_t>{1});
}

// The property reply is exactly 80 + the sum of (length + 1), with each blob
// followed by a spare byte.
TEST_F(EmulatedControlDevice, PropertyReplyHasExactlyTheComputedSize) {
    control::PortBlobs port;
    port.Properties[0] = {1, 2, 3, 4};
    port.Properties[2] = {9, 9, 9, 9, 9, 9};
    port.Properties[18] = control::TextBlob(L"COM7");
    uint32_t key = control::AddPort(port);
    OverlappedRequest arrival;
    PortPropertyHeader header{};
    ASSERT_TRUE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, &header, 80, arrival));

    DWORD size = 80;
    for (uint32_t length : header.Lengths) size += length + 1;
    EXPECT_EQ(size, 80u + 19u + 4u + 6u + 10u);
    std::vector<uint8_t> reply(size, 0xCC);
    OverlappedRequest properties;
    ASSERT_TRUE(Issue(IOCTL_LINE_GET_PORT_PROPERTIES, reply.data(), size, properties, &header, 80));
    DWORD bytes = 0;
    ASSERT_TRUE(GetOverlappedResult(device_, &properties.overlapped, &bytes, FALSE));
    EXPECT_EQ(bytes, size);
    EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 80, reply.begin() + 85),
              (std::vector<uint8_t>{1, 2, 3, 4, 0}));
    EXPECT_EQ(reply[85], 0) << "absent property 1: its spare byte alone";
    EXPECT_EQ(reply[86], 9) << "property 2 starts at 86";
    EXPECT_EQ(reply[93], 0) << "property 3 starts at 93, absent";
    EXPECT_EQ(reply[size - 11], 'C');

    // Too small a buffer fails; size faults report a count one off.
    OverlappedRequest tooSmall;
    EXPECT_FALSE(Issue(IOCTL_LINE_GET_PORT_PROPERTIES, reply.data(), size - 1, tooSmall, &header, 80));
    control::RequestFault longer;
    longer.FaultKind = control::RequestFault::Kind::ReplySizeDelta;
    longer.SizeDelta = +1;
    control::InjectFault(IOCTL_LINE_GET_PORT_PROPERTIES, longer);
    OverlappedRequest longReply;
    ASSERT_TRUE(Issue(IOCTL_LINE_GET_PORT_PROPERTIES, reply.data(), size, longReply, &header, 80));
    ASSERT_TRUE(GetOverlappedResult(device_, &longReply.overlapped, &bytes, FALSE));
    EXPECT_EQ(bytes, size + 1);

    header.PortKey = key + 100;
    OverlappedRequest unknownPort;
    EXPECT_FALSE(Issue(IOCTL_LINE_GET_PORT_PROPERTIES, reply.data(), size, unknownPort, &header, 80));
}

TEST_F(EmulatedControlDevice, CompleteLaterTurnsAnImmediateReplyIntoAPendingOne) {
    control::RequestFault later;
    later.FaultKind = control::RequestFault::Kind::CompleteLater;
    later.DelayMs = 30;
    control::InjectFault(IOCTL_LINE_GET_DRIVER_INFO, later);
    OverlappedRequest request;
    uint8_t reply[20] = {};
    ASSERT_FALSE(Issue(IOCTL_LINE_GET_DRIVER_INFO, reply, 20, request));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    DWORD bytes = 0;
    ASSERT_TRUE(GetOverlappedResult(device_, &request.overlapped, &bytes, TRUE));
    EXPECT_EQ(bytes, 20u);
    EXPECT_EQ(reply[0], 20);
}

}  // namespace

namespace {

TEST_F(EmulatedControlDevice, AWaitForAPortThatHasGoneEndsCancelled) {
    uint32_t key = control::AddPort(ModemPort(L"COM4"));
    control::RemovePort(key);
    OverlappedRequest request;
    ASSERT_FALSE(Issue(IOCTL_LINE_WAIT_DATA, nullptr, 0, request, &key, 4));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(request.Signalled(2000));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(device_, &request.overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

}  // namespace
