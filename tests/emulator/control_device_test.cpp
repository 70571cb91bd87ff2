// The stand-in's control device: handles, completions as the system reports
// them, cancellation, the request log and the driver's first requests.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "wire/request_codes.h"
#include "emulator/test_control.h"
#include "wire/port_property_records.h"
#include "port/capture_ring.h"
#include "port/ring_memory.h"
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

    // Only as the driver takes it: no access rights, no sharing, no security
    // attributes, an existing device, overlapped, no template.
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    const DWORD overlapped = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED;
    struct Case {
        const char* name;
        DWORD access, share;
        SECURITY_ATTRIBUTES* security;
        DWORD disposition, flags;
        HANDLE templateFile;
        DWORD error;
    } refused[] = {
        {"read access", GENERIC_READ, 0, nullptr, OPEN_EXISTING, overlapped, nullptr, ERROR_ACCESS_DENIED},
        {"write access", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, overlapped, nullptr, ERROR_ACCESS_DENIED},
        {"shared", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, overlapped, nullptr,
         ERROR_INVALID_PARAMETER},
        {"security attributes", 0, 0, &security, OPEN_EXISTING, overlapped, nullptr, ERROR_INVALID_PARAMETER},
        {"created", 0, 0, nullptr, OPEN_ALWAYS, overlapped, nullptr, ERROR_INVALID_PARAMETER},
        {"not overlapped", 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr, ERROR_INVALID_PARAMETER},
        {"a template", 0, 0, nullptr, OPEN_EXISTING, overlapped, first, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_EQ(seam::CreateFileA("\\\\.\\Quorvel", c.access, c.share, c.security, c.disposition, c.flags,
                                    c.templateFile),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(control::OpenDeviceHandles(), 2u);

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
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
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

    // A buffer of another size fails; size faults report a count one off.
    OverlappedRequest tooSmall;
    EXPECT_FALSE(Issue(IOCTL_LINE_GET_PORT_PROPERTIES, reply.data(), size - 1, tooSmall, &header, 80));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
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

// The sizes of every request as the drivers take them; each one byte off, in
// either direction, fails at once with ERROR_INVALID_PARAMETER, as a driver
// fails it, while the right sizes never fail so.
TEST_F(EmulatedControlDevice, EveryRequestOfAnotherSizeFailsAtOnceWithInvalidParameter) {
    uint32_t key = control::AddPort(ModemPort(L"Modem on COM1"));
    OverlappedRequest arrival;
    PortPropertyHeader header{};
    ASSERT_TRUE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, &header, 80, arrival));
    DWORD propertySize = 80;
    for (uint32_t length : header.Lengths) propertySize += length + 1;
    void* ring = AllocateRingMemory(CaptureRingBytes(kCaptureCapacity));
    ASSERT_NE(ring, nullptr);
    static_cast<CaptureRing*>(ring)->Capacity = kCaptureCapacity;
    static_cast<CaptureRing*>(ring)->PortKey = key;
    AttachRequest attach{0, 1, 0};
    ASSERT_TRUE(RingAddressField(ring, &attach.RingAddress));

    // Room for every input and output; each input starts with what its
    // request needs (the key, the header, the attach record).
    std::vector<uint8_t> input(1024, 0), output(1024, 0);
    enum Input { Key, Header, Attach, Flag };
    auto fill = [&](Input kind) {
        std::fill(input.begin(), input.end(), 0);
        if (kind == Key) std::memcpy(input.data(), &key, 4);
        if (kind == Header) std::memcpy(input.data(), &header, 80);
        if (kind == Attach) std::memcpy(input.data(), &attach, sizeof attach);
    };
    struct Case {
        const char* name;
        uint32_t code;
        Input kind;
        DWORD input;
        DWORD output;
        bool inputAtLeast = false;  // the command write: its key and any text
        bool outputAny = false;     // the response read: whatever room is offered
    } cases[] = {
        {"driver information", IOCTL_LINE_GET_DRIVER_INFO, Flag, 0, 20},
        {"configuration", IOCTL_LINE_SET_CONFIG, Flag, 520, 0},
        {"persistent mode", IOCTL_LINE_SET_PERSISTENT, Flag, 1, 0},
        {"shutdown", IOCTL_LINE_SHUTDOWN, Flag, 1, 0},
        {"port arrival", IOCTL_LINE_WAIT_PORT_ARRIVAL, Flag, 0, 80},
        {"port properties", IOCTL_LINE_GET_PORT_PROPERTIES, Header, 80, propertySize},
        {"capture attach", IOCTL_LINE_ATTACH_CAPTURE, Attach, 12, 0},
        {"data wait", IOCTL_LINE_WAIT_DATA, Key, 4, 0},
        {"signal wait", IOCTL_LINE_WAIT_SIGNAL, Key, 4, 4},
        {"notice wait", IOCTL_LINE_WAIT_NOTICE, Key, 4, 400},
        {"capture detach", IOCTL_LINE_DETACH_CAPTURE, Key, 4, 0},
        {"pause toggle", IOCTL_LINE_TOGGLE_PAUSE, Key, 8, 0},
        {"command mode", IOCTL_LINE_SET_COMMAND_MODE, Key, 28, 0},
        {"response read", IOCTL_LINE_READ_RESPONSE, Key, 4, 16, false, true},
        {"command write", IOCTL_LINE_WRITE_COMMAND, Key, 7, 0, true},
        {"escape follow-up", IOCTL_LINE_ESCAPE_FOLLOWUP, Key, 8, 0},
    };
    ASSERT_EQ(std::size(cases), 16u);
    std::vector<std::unique_ptr<OverlappedRequest>> issued;  // a pending request keeps its record
    auto issue = [&](const Case& c, DWORD inputSize, DWORD outputSize) {
        fill(c.kind);
        issued.push_back(std::make_unique<OverlappedRequest>());
        SetLastError(0);
        BOOL done = Issue(c.code, output.data(), outputSize, *issued.back(), input.data(), inputSize);
        return done ? ERROR_SUCCESS : GetLastError();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<DWORD, DWORD>> wrong;
        if (c.inputAtLeast) {
            wrong.push_back({4 - 1, c.output});
        } else {
            if (c.input > 0) wrong.push_back({c.input - 1, c.output});
            wrong.push_back({c.input + 1, c.output});
        }
        if (!c.outputAny) {
            if (c.output > 0) wrong.push_back({c.input, c.output - 1});
            wrong.push_back({c.input, c.output + 1});
        }
        for (auto [inputSize, outputSize] : wrong) {
            SCOPED_TRACE("input " + std::to_string(inputSize) + ", output " + std::to_string(outputSize));
            control::ClearRequestLog();
            EXPECT_EQ(issue(c, inputSize, outputSize), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
            EXPECT_FALSE(issued.back()->Signalled()) << "failed at once: nothing completes";
            auto log = control::RequestLog(c.code);
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].Result, Outcome::FailedAtOnce);
        }
        EXPECT_NE(issue(c, c.input, c.output), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "the right sizes";
    }
    // The waits still pending end before their records go.
    seam::CancelIo(device_);
    control::ResetDriver();
    FreeRingMemory(ring);
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
