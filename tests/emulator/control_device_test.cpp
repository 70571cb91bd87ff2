// The stand-in's control device: handles, completions as the system reports
// them, cancellation, the request log and the driver's first requests.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "emulator/lines/port_catalog.h"
#include "emulator/control/test_control.h"
#include "port/capture_ring.h"
#include "port/ring_memory.h"
#include "support/call_errors.h"
#include "support/emulated_driver.h"
#include "support/wire_client.h"
#include "system/system_calls.h"
#include "wire/capture_records.h"
#include "wire/device_records.h"
#include "wire/port_control_records.h"
#include "wire/port_property_records.h"
#include "wire/request_codes.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using Outcome = control::LoggedRequest::Outcome;
using Fault = control::RequestFault;
using emu::ModemPort;
using testsupport::FailsWith;
using testsupport::IssueRequest;
using testsupport::PendingRequest;

constexpr DWORD kHeaderSize = sizeof(PortPropertyHeader);

class EmulatedControlDevice : public testsupport::EmulatedDeviceTest {
protected:
    // Issues a request whose record lasts as long as the fixture, whose end
    // closes the device and so ends the requests still pending; the call's result.
    BOOL Issue(uint32_t code, const void* input, DWORD inputSize, void* output = nullptr, DWORD outputSize = 0) {
        issued_.emplace_back();
        return IssueRequest(device_, code, input, inputSize, output, outputSize, issued_.back());
    }
    PendingRequest& LastIssued() { return issued_.back(); }

    std::deque<PendingRequest> issued_;
};

// The device opens only as the driver takes it: no access rights, no sharing,
// no security attributes, an existing device, overlapped, no template; every
// other open fails with its error (the template offered: an open handle).
void ExpectOtherOpensRefused(HANDLE templateFile) {
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
        {"a template", 0, 0, nullptr, OPEN_EXISTING, overlapped, templateFile, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_TRUE(FailsWith(seam::CreateFileA("\\\\.\\Quorvel", c.access, c.share, c.security, c.disposition,
                                                c.flags, c.templateFile),
                              c.error));
    }
}

TEST(EmulatedDeviceOpen, OpensOnlyWhileTheServiceRuns) {
    control::ResetServices();
    SetLastError(0);
    EXPECT_TRUE(FailsWith(testsupport::OpenEmulatedDevice(), ERROR_FILE_NOT_FOUND));

    testsupport::StartCleanEmulatedDriver();
    HANDLE first = testsupport::OpenEmulatedDevice();
    HANDLE second = testsupport::OpenEmulatedDevice();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);
    ExpectOtherOpensRefused(first);
    EXPECT_EQ(control::OpenDeviceHandles(), 2u);

    control::StopServiceFromOutside("Quorvel");
    EXPECT_EQ(testsupport::OpenEmulatedDevice(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(seam::CloseHandle(first));
    EXPECT_TRUE(seam::CloseHandle(second));
    EXPECT_FALSE(seam::CloseHandle(second)) << "a closed handle is gone";
    control::ResetServices();
}

TEST_F(EmulatedControlDevice, CompletionAtOnceReadsBackThroughTheSystem) {
    PendingRequest request(sizeof(DriverInfoReply));
    ASSERT_TRUE(IssueRequest(device_, IOCTL_LINE_GET_DRIVER_INFO, nullptr, 0, request));
    EXPECT_TRUE(request.Signalled());
    ASSERT_TRUE(request.Result(device_));
    EXPECT_EQ(request.bytes, 20u);
    DriverInfoReply reply;
    std::memcpy(&reply, request.output.data(), sizeof reply);
    EXPECT_EQ(reply.Length, 20u);
    EXPECT_EQ(reply.Options, 5u);
}

TEST_F(EmulatedControlDevice, PendingCompletionReadsBackThroughTheSystem) {
    PendingRequest request(kHeaderSize);
    std::fill(request.output.begin(), request.output.end(), 0xCC);
    ASSERT_TRUE(FailsWith(IssueRequest(device_, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, request), ERROR_IO_PENDING));
    EXPECT_FALSE(request.Signalled(50));
    EXPECT_TRUE(FailsWith(request.Result(device_), ERROR_IO_INCOMPLETE));
    EXPECT_EQ(request.output[0], 0xCC) << "buffered output is written only at completion";

    uint32_t key = control::AddPort(ModemPort(L"COM1", 1));
    ASSERT_TRUE(request.Signalled(1000));
    ASSERT_TRUE(request.Result(device_));
    EXPECT_EQ(request.bytes, 80u);
    PortPropertyHeader received;
    std::memcpy(&received, request.output.data(), sizeof received);
    EXPECT_EQ(received.PortKey, key);
    EXPECT_EQ(received.Lengths[kPropFriendlyName], 64u);  // 31 characters and the terminator
    EXPECT_EQ(received.Lengths[kPropAddress], 4u);
    EXPECT_EQ(received.Lengths[kPropConfig], 0u);  // absent
}

TEST_F(EmulatedControlDevice, FailureAfterPendingKeepsItsError) {
    control::InjectFault(IOCTL_LINE_SET_PERSISTENT,
                         {.FaultKind = Fault::Kind::FailAfterPending, .Error = ERROR_MEDIA_CHANGED});
    PendingRequest request;
    uint8_t flag = 1;
    ASSERT_TRUE(FailsWith(IssueRequest(device_, IOCTL_LINE_SET_PERSISTENT, &flag, 1, request), ERROR_IO_PENDING));
    ASSERT_TRUE(request.Signalled(2000));
    EXPECT_TRUE(FailsWith(request.Result(device_), ERROR_MEDIA_CHANGED));

    // The fault hit once; the next request completes normally.
    EXPECT_TRUE(Issue(IOCTL_LINE_SET_PERSISTENT, &flag, 1));
    EXPECT_EQ(control::Driver().PersistentFlag, 1);
}

TEST_F(EmulatedControlDevice, FailureAtOnceDoesNotSignal) {
    control::InjectFault(IOCTL_LINE_SET_PERSISTENT, {.Error = ERROR_MEDIA_CHANGED});
    PendingRequest request;
    SetEvent(request.overlapped.hEvent);  // the call must clear it
    uint8_t flag = 0;
    EXPECT_TRUE(FailsWith(IssueRequest(device_, IOCTL_LINE_SET_PERSISTENT, &flag, 1, request), ERROR_MEDIA_CHANGED));
    EXPECT_FALSE(request.Signalled());

    EXPECT_TRUE(FailsWith(Issue(MakeLineRequestCode(17), nullptr, 0), ERROR_INVALID_FUNCTION));  // after the sixteen
}

// Issues an arrival wait on a thread of its own, which stays alive (its
// requests must outlive a cancel by another thread) until the waiter goes.
struct ArrivalWaiter {
    explicit ArrivalWaiter(HANDLE device)
        : thread([this, device] {
              IssueRequest(device, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, request);
              SetEvent(issued);
              WaitForSingleObject(release, INFINITE);
          }) {}
    ~ArrivalWaiter() {
        SetEvent(release);
        thread.join();
        CloseHandle(issued);
        CloseHandle(release);
    }
    PendingRequest request{kHeaderSize};
    HANDLE issued = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread thread;  // declared last: it starts once the rest is made
};

TEST_F(EmulatedControlDevice, CancelIoCancelsOnlyTheCallingThreadsRequests) {
    ArrivalWaiter other(device_);
    ASSERT_EQ(WaitForSingleObject(other.issued, 5000), WAIT_OBJECT_0);

    PendingRequest mine(kHeaderSize);
    ASSERT_FALSE(IssueRequest(device_, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, mine));
    ASSERT_TRUE(seam::CancelIo(device_));
    ASSERT_TRUE(mine.Signalled());
    EXPECT_TRUE(FailsWith(mine.Result(device_), ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(other.request.Signalled(50)) << "another thread's request is not cancelled";
    EXPECT_EQ(control::PendingRequests(IOCTL_LINE_WAIT_PORT_ARRIVAL), 1u);

    // The arrival goes to the wait that is still pending.
    uint32_t key = control::AddPort(ModemPort(L"COM2", 2));
    ASSERT_TRUE(other.request.Signalled(1000));
    EXPECT_EQ(other.request.output[0], key & 0xFF);
}

TEST_F(EmulatedControlDevice, ClosingTheHandleCancelsItsRequests) {
    PendingRequest request(kHeaderSize);
    ASSERT_FALSE(IssueRequest(device_, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, request));
    HANDLE device = device_;
    ASSERT_TRUE(seam::CloseHandle(device));
    device_ = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(request.Signalled());
    EXPECT_EQ(request.overlapped.Internal, 0xC0000120u);  // STATUS_CANCELLED
    EXPECT_EQ(control::PendingRequests(), 0u);
}

TEST_F(EmulatedControlDevice, ArrivalsAreReportedOnePerWaitInOrder) {
    uint32_t first = control::AddPort(ModemPort(L"COM1", 1));
    uint32_t second = control::AddPort(ModemPort(L"COM2", 2));
    uint32_t third = control::AddPort(ModemPort(L"COM3", 3));
    control::RemovePort(second);  // gone before it was reported
    PortPropertyHeader header{};
    for (uint32_t expected : {first, third}) {
        EXPECT_TRUE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, &header, kHeaderSize));
        EXPECT_EQ(header.PortKey, expected);
    }
    EXPECT_TRUE(FailsWith(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, &header, kHeaderSize), ERROR_IO_PENDING));
}

TEST_F(EmulatedControlDevice, RequestLogRecordsEveryRequest) {
    control::ClearRequestLog();
    uint8_t flag = 1;
    ASSERT_TRUE(Issue(IOCTL_LINE_SET_PERSISTENT, &flag, 1));
    PendingRequest arrival(kHeaderSize);
    ASSERT_FALSE(IssueRequest(device_, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, arrival));
    control::AddPort(ModemPort(L"COM1", 1));

    // Each entry as its code, thread, input, output size, outcome and the bytes it returned.
    std::vector<std::tuple<uint32_t, DWORD, std::vector<uint8_t>, DWORD, Outcome, DWORD>> kept;
    for (const auto& r : control::RequestLog()) {
        kept.emplace_back(r.Code, r.ThreadId, r.Input, r.OutputSize, r.Result, r.BytesReturned);
    }
    const DWORD thread = GetCurrentThreadId();
    EXPECT_EQ(kept, (decltype(kept){
                        {IOCTL_LINE_SET_PERSISTENT, thread, {1}, 0, Outcome::CompletedAtOnce, 0},
                        {IOCTL_LINE_WAIT_PORT_ARRIVAL, thread, {}, 80, Outcome::CompletedLater, 80},
                    }));
    EXPECT_EQ(control::RequestLog(IOCTL_LINE_SET_PERSISTENT).size(), 1u);
}

TEST_F(EmulatedControlDevice, ConfigurationAndShutdownAreKept) {
    DriverConfigRecord record = testsupport::ConfigRecordFor("ports=2");
    ASSERT_TRUE(Issue(IOCTL_LINE_SET_CONFIG, &record, sizeof record));
    EXPECT_TRUE(FailsWith(Issue(IOCTL_LINE_SET_CONFIG, &record, sizeof record - 1), ERROR_INVALID_PARAMETER));
    uint8_t value = 1;
    ASSERT_TRUE(Issue(IOCTL_LINE_SHUTDOWN, &value, 1));

    auto driver = control::Driver();
    EXPECT_TRUE(driver.Configured);
    const auto* recordBytes = reinterpret_cast<const uint8_t*>(&record);
    EXPECT_EQ(driver.ConfigRecord, std::vector<uint8_t>(recordBytes, recordBytes + sizeof record));
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
    PortPropertyHeader header{};
    ASSERT_TRUE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, &header, kHeaderSize));

    DWORD size = testsupport::PropertyReplySize(header);
    EXPECT_EQ(size, 80u + 19u + 4u + 6u + 10u);
    std::vector<uint8_t> reply(size, 0xCC);
    auto requestProperties = [&](DWORD outputSize) {
        return Issue(IOCTL_LINE_GET_PORT_PROPERTIES, &header, kHeaderSize, reply.data(), outputSize);
    };
    ASSERT_TRUE(requestProperties(size));
    ASSERT_TRUE(LastIssued().Result(device_));
    EXPECT_EQ(LastIssued().bytes, size);
    EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 80, reply.begin() + 85),
              (std::vector<uint8_t>{1, 2, 3, 4, 0}));
    EXPECT_EQ(reply[85], 0) << "absent property 1: its spare byte alone";
    EXPECT_EQ(reply[86], 9) << "property 2 starts at 86";
    EXPECT_EQ(reply[93], 0) << "property 3 starts at 93, absent";
    EXPECT_EQ(reply[size - 11], 'C');

    // A buffer of another size fails; size faults report a count one off.
    EXPECT_TRUE(FailsWith(requestProperties(size - 1), ERROR_INVALID_PARAMETER));
    control::InjectFault(IOCTL_LINE_GET_PORT_PROPERTIES, {.FaultKind = Fault::Kind::ReplySizeDelta, .SizeDelta = +1});
    ASSERT_TRUE(requestProperties(size));
    ASSERT_TRUE(LastIssued().Result(device_));
    EXPECT_EQ(LastIssued().bytes, size + 1);

    header.PortKey = key + 100;
    EXPECT_FALSE(requestProperties(size));
}

// The sizes of every request as the drivers take them; each one byte off, in
// either direction, fails at once with ERROR_INVALID_PARAMETER, as a driver
// fails it, while the right sizes never fail so.
class EmulatedRequestSizes : public EmulatedControlDevice {
protected:
    enum Input { Key, Header, Attach, Flag };
    struct Case {
        const char* name;
        uint32_t code;
        Input kind;
        DWORD input;
        DWORD output;
        bool inputAtLeast = false;  // the command write: its key and any text
        bool outputAny = false;     // the response read: whatever room is offered
    };

    // A port that has arrived, and a ring for it that the attach record lends.
    void SetUp() override {
        EmulatedControlDevice::SetUp();
        key_ = control::AddPort(ModemPort(L"COM1", 1));
        ASSERT_TRUE(Issue(IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, &header_, kHeaderSize));
        ring_ = testsupport::NewRing(kCaptureCapacity, key_);
        ASSERT_NE(ring_, nullptr);
        ASSERT_TRUE(testsupport::AttachRecordFor(ring_.get(), &attach_));
    }

    // Issues the request with these sizes, its input starting with what it
    // needs (the key, the header, the attach record); ERROR_SUCCESS when it
    // did not fail, or its error.
    DWORD IssueSized(const Case& c, DWORD inputSize, DWORD outputSize) {
        std::fill(input_.begin(), input_.end(), 0);
        if (c.kind == Key) std::memcpy(input_.data(), &key_, sizeof key_);
        if (c.kind == Header) std::memcpy(input_.data(), &header_, sizeof header_);
        if (c.kind == Attach) std::memcpy(input_.data(), &attach_, sizeof attach_);
        SetLastError(0);
        return Issue(c.code, input_.data(), inputSize, output_.data(), outputSize) ? ERROR_SUCCESS : GetLastError();
    }

    // Every size one byte off that the request does not take.
    static std::vector<std::pair<DWORD, DWORD>> WrongSizes(const Case& c) {
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
        return wrong;
    }

    void ExpectWrongSizesFailAtOnce(const Case& c) {
        for (auto [inputSize, outputSize] : WrongSizes(c)) {
            SCOPED_TRACE("input " + std::to_string(inputSize) + ", output " + std::to_string(outputSize));
            control::ClearRequestLog();
            EXPECT_EQ(IssueSized(c, inputSize, outputSize), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
            EXPECT_FALSE(LastIssued().Signalled()) << "failed at once: nothing completes";
            auto log = control::RequestLog(c.code);
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].Result, Outcome::FailedAtOnce);
        }
    }

    uint32_t key_ = 0;
    PortPropertyHeader header_{};
    testsupport::OwnedRing ring_{nullptr, nullptr};
    AttachRequest attach_{};
    std::vector<uint8_t> input_ = std::vector<uint8_t>(1024, 0);  // room for every input
    std::vector<uint8_t> output_ = std::vector<uint8_t>(1024, 0);  // and every output
};

TEST_F(EmulatedRequestSizes, EveryRequestOfAnotherSizeFailsAtOnceWithInvalidParameter) {
    DWORD propertySize = testsupport::PropertyReplySize(header_);
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectWrongSizesFailAtOnce(c);
        EXPECT_NE(IssueSized(c, c.input, c.output), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "the right sizes";
    }
}

// The ring is the caller's memory: the attach of one that this process
// cannot write, all of it, fails as a driver's probe of the buffer fails it,
// and nothing is written into it; the port's own ring is taken after them.
TEST_F(EmulatedRequestSizes, AnAttachOfARingThatThisProcessCannotWriteIsRefused) {
    const size_t bytes = CaptureRingBytes(kCaptureCapacity);
    // A ring header for the port in memory of size bytes, then given the protection.
    auto ringIn = [&](size_t size, DWORD protection) {
        auto* ring = static_cast<CaptureRing*>(AllocateRingMemory(size));
        ring->Capacity = kCaptureCapacity;
        ring->PortKey = key_;
        DWORD before = 0;
        VirtualProtect(ring, size, protection, &before);
        return ring;
    };
    CaptureRing* readOnly = ringIn(bytes, PAGE_READONLY);
    CaptureRing* tooShort = ringIn(4096, PAGE_READWRITE);  // its slots run past its memory
    CaptureRing* freed = ringIn(bytes, PAGE_READWRITE);
    FreeRingMemory(freed);
    for (const CaptureRing* ring : {readOnly, tooShort, freed, ring_.get()}) {
        SCOPED_TRACE(ring == readOnly ? "read-only" : ring == tooShort ? "too short" : ring == freed ? "freed" : "sound");
        ASSERT_TRUE(testsupport::AttachRecordFor(ring, &attach_));
        BOOL done = Issue(IOCTL_LINE_ATTACH_CAPTURE, &attach_, sizeof attach_);
        if (ring == ring_.get()) {
            EXPECT_TRUE(done);
        } else {
            EXPECT_TRUE(FailsWith(done, ERROR_NOACCESS));
        }
        EXPECT_EQ(control::IsCaptureAttached(key_), ring == ring_.get());
    }
    EXPECT_EQ(readOnly->TickFrequency, 0u);
    EXPECT_EQ(tooShort->TickFrequency, 0u);
    DWORD before = 0;
    VirtualProtect(readOnly, bytes, PAGE_READWRITE, &before);
    FreeRingMemory(readOnly);
    FreeRingMemory(tooShort);
}

TEST_F(EmulatedControlDevice, CompleteLaterTurnsAnImmediateReplyIntoAPendingOne) {
    control::InjectFault(IOCTL_LINE_GET_DRIVER_INFO, {.FaultKind = Fault::Kind::CompleteLater, .DelayMs = 30});
    PendingRequest request(sizeof(DriverInfoReply));
    ASSERT_TRUE(FailsWith(IssueRequest(device_, IOCTL_LINE_GET_DRIVER_INFO, nullptr, 0, request), ERROR_IO_PENDING));
    ASSERT_TRUE(request.Result(device_, TRUE));
    EXPECT_EQ(request.bytes, 20u);
    EXPECT_EQ(request.output[0], 20);
}

TEST_F(EmulatedControlDevice, AWaitForAPortThatHasGoneEndsCancelled) {
    uint32_t key = control::AddPort(ModemPort(L"COM4", 4));
    control::RemovePort(key);
    PendingRequest request;
    ASSERT_TRUE(FailsWith(IssueRequest(device_, IOCTL_LINE_WAIT_DATA, &key, sizeof key, request), ERROR_IO_PENDING));
    ASSERT_TRUE(request.Signalled(2000));
    EXPECT_TRUE(FailsWith(request.Result(device_), ERROR_OPERATION_ABORTED));
}

// The stand-in writes what passes into a small ring: as much as fits, the
// rest counted as dropped; a paused direction's bytes skipped, not dropped;
// the write index wraps past the last slot.
TEST_F(EmulatedRequestSizes, TheRingTakesWhatFitsDropsTheRestAndSkipsAPausedDirection) {
    auto small = testsupport::NewRing(8, key_);  // 7 usable slots: one stays free
    ASSERT_NE(small, nullptr);
    ASSERT_TRUE(testsupport::AttachRing(device_, small.get()));
    auto text = [](const std::vector<testsupport::TakenRecord>& records) {
        std::string taken;
        for (const auto& record : records) taken += static_cast<char>(record.Data);
        return taken;
    };
    std::vector<emu::CapturedByte> ten;
    for (char c = 'a'; c < 'k'; ++c) ten.push_back({static_cast<uint8_t>(c), kDirectionRx, 1});
    control::PushRecords(key_, ten);
    EXPECT_EQ(small->WriteIndex, 7u);
    EXPECT_EQ(control::DroppedRecords(key_), 3u);
    EXPECT_EQ(text(testsupport::TakeRecords(small.get())), "abcdefg");

    PortFlagsRecord pauseTx{key_, 1, 0, {0, 0}};
    ASSERT_TRUE(Issue(IOCTL_LINE_TOGGLE_PAUSE, &pauseTx, sizeof pauseTx));
    control::PushRecords(key_, {{'k', kDirectionRx, 2}, {'X', kDirectionTx, 2}, {'l', kDirectionRx, 3},
                                {'Y', kDirectionTx, 3}, {'m', kDirectionRx, 4}});
    EXPECT_EQ(small->WriteIndex, 2u) << "slots 7, 0 and 1";
    EXPECT_EQ(control::DroppedRecords(key_), 3u) << "paused bytes are not dropped ones";
    std::vector<testsupport::TakenRecord> wrapped = testsupport::TakeRecords(small.get());
    EXPECT_EQ(text(wrapped), "klm");
    ASSERT_EQ(wrapped.size(), 3u);
    EXPECT_EQ(wrapped[2].Time, 4u);
}

}  // namespace
