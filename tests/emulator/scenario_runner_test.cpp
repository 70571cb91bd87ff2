// Scenarios played by the stand-in, seen through its control device as the
// program sees them: arrivals, property replies, capture records with their
// timestamps, flashes, notices, faults; started by the configuration request.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "wire/request_codes.h"
#include "emulator/driver_clock.h"
#include "emulator/scenario.h"
#include "emulator/scenario_file.h"
#include "emulator/scenario_runner.h"
#include "emulator/test_control.h"
#include "port/capture_ring.h"
#include "wire/port_property_records.h"
#include "port/ring_memory.h"
#include "support/emulated_driver.h"
#include "system/system_calls.h"

namespace {

using namespace quorvel;
namespace control = emu::control;

double Now() { return emu::DriverClockMilliseconds(); }

// One overlapped request with its own manual-reset event and output.
struct Overlapped {
    explicit Overlapped(size_t outputSize = 0) : output(outputSize, 0) {
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Overlapped() { CloseHandle(overlapped.hEvent); }
    bool Done(DWORD waitMs) const { return WaitForSingleObject(overlapped.hEvent, waitMs) == WAIT_OBJECT_0; }
    OVERLAPPED overlapped{};
    std::vector<uint8_t> output;
};

struct Arrival {
    bool Arrived = false;
    PortPropertyHeader Header{};
    double AtMs = 0;
};

struct Record {
    uint8_t Data;
    uint8_t Direction;
    uint64_t Ms;  // the rings count milliseconds in these tests
};

// Whether the records hold exactly these bytes.
std::string Bytes(const std::vector<Record>& records) {
    std::string bytes;
    for (const Record& record : records) bytes.push_back(static_cast<char>(record.Data));
    return bytes;
}

class ScenarioRunTest : public testing::Test {
protected:
    void SetUp() override {
        testsupport::StartCleanEmulatedDriver();
        control::RunScenarios(true);
        control::SetTickFrequency(1000);
        device_ = testsupport::OpenEmulatedDevice();
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }

    void TearDown() override {
        seam::CloseHandle(device_);
        control::ResetDriver();  // before the rings go: the driver lets go of them
        control::ResetServices();
    }

    // Sends the configuration record: with text, offset 4 holds 20 and the
    // text follows at 16 (without its terminator when it fills the field);
    // without, offset 4 holds 4.
    void Configure(const char* text) {
        std::vector<uint8_t> record(520, 0);
        record[0] = 0x08;
        record[1] = 0x02;
        record[4] = text ? 20 : 4;
        record[10] = 1;
        if (text) std::memcpy(record.data() + 16, text, std::min<size_t>(std::strlen(text), 504));
        Overlapped request;
        configuredMs_ = Now();
        ASSERT_TRUE(seam::DeviceIoControl(device_, IOCTL_LINE_SET_CONFIG, record.data(), 520, nullptr, 0,
                                          nullptr, &request.overlapped));
    }

    Arrival WaitArrival(DWORD timeoutMs = 2000) {
        Arrival arrival;
        Overlapped request(80);
        BOOL done = seam::DeviceIoControl(device_, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0,
                                          request.output.data(), 80, nullptr, &request.overlapped);
        if (!done && GetLastError() != ERROR_IO_PENDING) return arrival;
        if (!request.Done(timeoutMs)) {
            seam::CancelIo(device_);
            request.Done(INFINITE);
        }
        arrival.AtMs = Now();
        if (request.overlapped.Internal != 0) return arrival;
        arrival.Arrived = true;
        std::memcpy(&arrival.Header, request.output.data(), 80);
        return arrival;
    }

    // The property reply of a port, or its error.
    std::vector<uint8_t> Properties(const PortPropertyHeader& header, DWORD* error) {
        DWORD size = 80;
        for (uint32_t length : header.Lengths) size += length + 1;
        Overlapped request(size);
        *error = ERROR_SUCCESS;
        PortPropertyHeader input = header;
        if (!seam::DeviceIoControl(device_, IOCTL_LINE_GET_PORT_PROPERTIES, &input, 80, request.output.data(),
                                   size, nullptr, &request.overlapped)) {
            *error = GetLastError();
            return {};
        }
        return request.output;
    }

    // Property blob `index` of a reply, as UTF-16 text.
    static std::wstring TextProperty(const std::vector<uint8_t>& reply, const PortPropertyHeader& header,
                                     uint32_t index) {
        size_t offset = 80;
        for (uint32_t i = 0; i < index; ++i) offset += header.Lengths[i] + 1;
        std::wstring text;
        for (size_t i = 0; i + 1 < header.Lengths[index]; i += 2) {
            wchar_t c = static_cast<wchar_t>(reply[offset + i] | (reply[offset + i + 1] << 8));
            if (c) text.push_back(c);
        }
        return text;
    }

    bool PortGone(const PortPropertyHeader& header) {
        DWORD error = 0;
        Properties(header, &error);
        return error == ERROR_DEV_NOT_EXIST;
    }

    // Lends the driver a ring for the port, as the capture thread does.
    CaptureRing* Attach(uint32_t key) {
        constexpr uint32_t kCapacity = 20000;
        CaptureRing* ring = AllocateCaptureRing(kCapacity, key);
        rings_.emplace_back(ring, FreeCaptureRing);
        AttachRequest attach{};
        EXPECT_TRUE(RingAddressField(ring, &attach.RingAddress));
        attach.RecordForm = 1;
        Overlapped request;
        EXPECT_TRUE(seam::DeviceIoControl(device_, IOCTL_LINE_ATTACH_CAPTURE, &attach, sizeof attach, nullptr,
                                          0, nullptr, &request.overlapped));
        return ring;
    }

    // Takes the pending records of a ring.
    static std::vector<Record> Take(CaptureRing* ring) {
        std::vector<Record> records;
        uint32_t write = ring->WriteIndex;
        MemoryBarrier();
        for (uint32_t i = ring->ReadIndex; i != write; i = i + 1 == ring->Capacity ? 0 : i + 1) {
            const CaptureRecord& record = RingRecords(ring)[i];
            records.push_back(Record{record.Data, record.Direction, RecordTimestamp(record)});
        }
        ring->ReadIndex = write;
        return records;
    }

    // Takes records until there are `count` of them or two seconds have
    // passed: the driver thread may run late on a busy machine.
    static std::vector<Record> TakeAtLeast(CaptureRing* ring, size_t count) {
        std::vector<Record> records;
        double startMs = Now();
        for (;;) {
            std::vector<Record> more = Take(ring);
            records.insert(records.end(), more.begin(), more.end());
            if (records.size() >= count || Now() - startMs > 2000) return records;
            Sleep(2);
        }
    }

    // Whether the scenario has no steps left within two seconds.
    static bool StepsRunOut() {
        double startMs = Now();
        while (emu::PendingScenarioSteps() != 0 && Now() - startMs < 2000) Sleep(2);
        return emu::PendingScenarioSteps() == 0;
    }

    // Issues a wait with the port's key as input.
    std::unique_ptr<Overlapped> Wait(uint32_t code, uint32_t key, size_t outputSize) {
        auto request = std::make_unique<Overlapped>(outputSize);
        seam::DeviceIoControl(device_, code, &key, 4, request->output.data(), static_cast<DWORD>(outputSize),
                              nullptr, &request->overlapped);
        return request;
    }

    HANDLE device_ = INVALID_HANDLE_VALUE;
    double configuredMs_ = 0;
    std::vector<std::unique_ptr<CaptureRing, void (*)(CaptureRing*)>> rings_;
};

// Timing tolerances: the driver thread never acts early; late by a few
// milliseconds normally, by hundreds on a busy machine. Late bounds still
// catch a step taken a round late or counted in the wrong unit.
constexpr double kEarly = 1.5;
constexpr double kLate = 400;

// Byte `index` passed at its due time: never early, at most kLate late.
void ExpectOnTime(const Record& record, double dueMs, size_t index) {
    EXPECT_GE(static_cast<double>(record.Ms), dueMs - kEarly) << "byte " << index;
    EXPECT_LT(static_cast<double>(record.Ms), dueMs + kLate) << "byte " << index;
}

TEST_F(ScenarioRunTest, PortsArriveAndLeaveAtTheirTimesWithTheirProperties) {
    Configure("port COM1@0-250;port COM2@150 =Lab \\x80 modem;port COM3@100 empty;port COM9@100 foreign");
    Arrival first = WaitArrival(), second = WaitArrival(), third = WaitArrival(), fourth = WaitArrival();
    ASSERT_TRUE(first.Arrived && second.Arrived && third.Arrived && fourth.Arrived);
    EXPECT_LT(first.AtMs - configuredMs_, kLate);
    EXPECT_GE(second.AtMs - configuredMs_, 100 - kEarly);
    EXPECT_GE(fourth.AtMs - configuredMs_, 150 - kEarly);
    EXPECT_LT(fourth.AtMs - configuredMs_, 150 + kLate);

    // In order of their times; at equal times in the order written.
    DWORD error = 0;
    std::vector<uint8_t> com1 = Properties(first.Header, &error);
    ASSERT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(TextProperty(com1, first.Header, kPropComPort), L"COM1");
    EXPECT_EQ(TextProperty(com1, first.Header, kPropFriendlyName), L"Standard 56000 bps V90 Modem #1");
    for (uint32_t length : second.Header.Lengths) EXPECT_EQ(length, 0u) << "COM3 is empty";
    std::vector<uint8_t> com9 = Properties(third.Header, &error);
    EXPECT_EQ(TextProperty(com9, third.Header, kPropFriendlyName), L"\x041C\x043E\x0434\x0435\x043C COM9");
    std::vector<uint8_t> com2 = Properties(fourth.Header, &error);
    EXPECT_EQ(TextProperty(com2, fourth.Header, kPropFriendlyName), L"Lab \x20AC modem")
        << "the friendly name is read in code page 1252";
    EXPECT_EQ(TextProperty(com2, fourth.Header, kPropComPort), L"COM2");

    // COM1 leaves at 250, and only COM1.
    while (!PortGone(first.Header) && Now() - configuredMs_ < 2000) Sleep(2);
    double leftMs = Now() - configuredMs_;
    EXPECT_GE(leftMs, 250 - kEarly);
    EXPECT_LT(leftMs, 250 + kLate);
    EXPECT_FALSE(PortGone(fourth.Header));
}

TEST_F(ScenarioRunTest, TrafficCountsFromTheAttachWithHonestTimestamps) {
    Configure("port COM1;@100 tx ATZ\\r;+50 rx OK;gap 20;+30 tx ABC;@300 flash 5;notice Hi there;+60 leave");
    Arrival arrival = WaitArrival();
    ASSERT_TRUE(arrival.Arrived);
    uint32_t key = arrival.Header.PortKey;
    Sleep(150);  // nobody listens yet: the port's time has not begun
    auto signal = Wait(IOCTL_LINE_WAIT_SIGNAL, key, 4);
    auto notice = Wait(IOCTL_LINE_WAIT_NOTICE, key, 400);
    auto data = Wait(IOCTL_LINE_WAIT_DATA, key, 0);
    double attachMs = Now();
    CaptureRing* ring = Attach(key);
    EXPECT_EQ(ring->TickFrequency, 1000u);

    ASSERT_TRUE(data->Done(2000));
    EXPECT_EQ(data->overlapped.Internal, 0u) << "the data wait completes with the first records";
    ASSERT_TRUE(signal->Done(2000));
    double flashMs = Now();
    ASSERT_TRUE(notice->Done(50)) << "the notice comes with the flash";
    uint32_t colour = 0;
    std::memcpy(&colour, signal->output.data(), 4);
    EXPECT_EQ(colour, 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(notice->output.data()), "Hi there");
    EXPECT_GE(flashMs - attachMs, 300 - kEarly);
    EXPECT_LT(flashMs - attachMs, 300 + kLate);

    std::vector<Record> records = Take(ring);
    ASSERT_EQ(Bytes(records), "ATZ\rOKABC");
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].Direction, i >= 4 && i < 6 ? 2 : 3) << "byte " << i;
        if (i > 0) EXPECT_GE(records[i].Ms, records[i - 1].Ms) << "timestamps in order";
    }
    // Each byte passes at its time in the script, counted from the attach,
    // never before it; "gap 20" spaces ABC 20 ms apart.
    const double plannedMs[] = {100, 100, 100, 100, 150, 150, 180, 200, 220};
    for (size_t i = 0; i < records.size(); ++i) ExpectOnTime(records[i], attachMs + plannedMs[i], i);
    EXPECT_EQ(records[3].Ms, records[0].Ms) << "bytes without a gap pass together";

    // At 360 the port leaves; nothing of the scenario waits any more.
    while (!PortGone(arrival.Header) && Now() - attachMs < 2000) Sleep(2);
    EXPECT_GE(Now() - attachMs, 360 - kEarly);
    EXPECT_EQ(emu::PendingScenarioSteps(), 0u);
}

TEST_F(ScenarioRunTest, GeneratorKeepsItsByteRateAndRunLength) {
    Configure("port COM1;gen rate=4000 run=40 for=1000");
    Arrival arrival = WaitArrival();
    ASSERT_TRUE(arrival.Arrived);
    double attachMs = Now();
    CaptureRing* ring = Attach(arrival.Header.PortKey);
    Sleep(1000);
    std::vector<Record> records = TakeAtLeast(ring, 4000);
    ASSERT_EQ(records.size(), 4000u) << "100 runs of 40 bytes, the last one starting before 1000 ms";

    EXPECT_GE(static_cast<double>(records.front().Ms), attachMs - kEarly);
    size_t byHalfSecond = 0, byHalfSecondLate = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        size_t run = i / 40, inRun = i % 40;
        uint8_t direction = run % 2 == 0 ? 2 : 3;
        ASSERT_EQ(records[i].Direction, direction) << "byte " << i;
        char expected = static_cast<char>((direction == 2 ? 'A' : 'a') + ((run / 2) * 40 + inRun) % 26);
        ASSERT_EQ(records[i].Data, static_cast<uint8_t>(expected)) << "byte " << i;
        if (inRun > 0) ASSERT_EQ(records[i].Ms, records[i - 1].Ms) << "a run passes at once";
        double ms = static_cast<double>(records[i].Ms);
        byHalfSecond += ms < attachMs + 500 - kEarly;
        byHalfSecondLate += ms < attachMs + 500 + kLate;
    }
    // 4000 bytes a second, a run every 10 ms: by 500 ms no more than the 51
    // runs that have started, and those all pass soon after.
    EXPECT_LE(byHalfSecond, 51u * 40);
    EXPECT_GE(byHalfSecondLate, 51u * 40);
    EXPECT_GE(static_cast<double>(records.back().Ms), attachMs + 990 - kEarly) << "the last run starts at 990 ms";
    EXPECT_TRUE(StepsRunOut()) << "a generator that has ended schedules nothing";
    EXPECT_TRUE(Take(ring).empty());
}

TEST_F(ScenarioRunTest, ALoopRunsItsRoundsAndStops) {
    Configure("port COM1;tx X;+30 rx Y;+15 loop 3");
    Arrival arrival = WaitArrival();
    ASSERT_TRUE(arrival.Arrived);
    double attachMs = Now();
    CaptureRing* ring = Attach(arrival.Header.PortKey);
    std::vector<Record> records = TakeAtLeast(ring, 6);
    ASSERT_EQ(Bytes(records), "XYXYXY");
    for (size_t i = 0; i < records.size(); ++i) {
        double plannedMs = 45.0 * static_cast<double>(i / 2) + (i % 2 ? 30 : 0);  // a round lasts 45 ms
        ExpectOnTime(records[i], attachMs + plannedMs, i);
    }
    EXPECT_TRUE(StepsRunOut());
    EXPECT_TRUE(Take(ring).empty()) << "three rounds and no more";
    EXPECT_FALSE(PortGone(arrival.Header)) << "the port stays after its rounds";
}

TEST_F(ScenarioRunTest, APortThatLeavesGetsNoMoreWork) {
    // COM1 loops for ever and is attached; COM2 is never attached, so the
    // scenario keeps looking for its attach until it leaves.
    Configure("port COM1-200;tx X;+20 loop;port COM2-150");
    Arrival com1 = WaitArrival(), com2 = WaitArrival();
    ASSERT_TRUE(com1.Arrived && com2.Arrived);
    CaptureRing* ring = Attach(com1.Header.PortKey);
    EXPECT_GT(emu::PendingScenarioSteps(), 0u);
    while (!PortGone(com1.Header) && Now() - configuredMs_ < 2000) Sleep(2);
    EXPECT_TRUE(PortGone(com2.Header));
    size_t sent = Take(ring).size();
    EXPECT_GE(sent, 5u);
    EXPECT_TRUE(StepsRunOut());
    EXPECT_TRUE(Take(ring).empty());
}

TEST_F(ScenarioRunTest, ResetDriverEndsTheScenarioAndSwitchesScenariosOff) {
    Configure("port COM1@200;port COM2;tx X;+20 loop");
    Arrival com2 = WaitArrival();
    ASSERT_TRUE(com2.Arrived);
    control::ResetDriver();
    EXPECT_EQ(emu::PendingScenarioSteps(), 0u);
    testsupport::StartCleanEmulatedDriver();
    seam::CloseHandle(device_);
    device_ = testsupport::OpenEmulatedDevice();
    EXPECT_FALSE(WaitArrival(300).Arrived) << "COM1's arrival went with the reset";

    Configure("port COM5");
    EXPECT_FALSE(WaitArrival(100).Arrived) << "a reset driver plays no scenario";
    control::RunScenarios(true);
    Configure("port COM5");
    EXPECT_TRUE(WaitArrival(1000).Arrived);
}

TEST_F(ScenarioRunTest, FaultsAreArmedForTheProgramsNextRequests) {
    Configure("fault restart;port COM1 noprops;port COM2");
    uint8_t flag = 1;
    Overlapped persistent;
    EXPECT_FALSE(seam::DeviceIoControl(device_, IOCTL_LINE_SET_PERSISTENT, &flag, 1, nullptr, 0, nullptr,
                                       &persistent.overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MEDIA_CHANGED));
    Overlapped again;
    EXPECT_TRUE(seam::DeviceIoControl(device_, IOCTL_LINE_SET_PERSISTENT, &flag, 1, nullptr, 0, nullptr,
                                      &again.overlapped))
        << "the restart request is made once";

    Arrival com1 = WaitArrival(), com2 = WaitArrival();
    ASSERT_TRUE(com1.Arrived && com2.Arrived);
    DWORD error = 0;
    Properties(com1.Header, &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_GEN_FAILURE));
    Properties(com1.Header, &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_GEN_FAILURE)) << "every time";
    Properties(com2.Header, &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(ScenarioRunTest, WithoutSettingsTextTheDefaultModemsTalk) {
    Configure(nullptr);
    std::vector<Arrival> ports;
    for (int i = 0; i < 3; ++i) ports.push_back(WaitArrival());
    std::vector<CaptureRing*> rings;
    for (size_t i = 0; i < ports.size(); ++i) {
        ASSERT_TRUE(ports[i].Arrived) << i;
        DWORD error = 0;
        std::vector<uint8_t> reply = Properties(ports[i].Header, &error);
        EXPECT_EQ(TextProperty(reply, ports[i].Header, kPropComPort), L"COM" + std::to_wstring(i + 1));
        rings.push_back(Attach(ports[i].Header.PortKey));
    }
    std::vector<Record> com1 = TakeAtLeast(rings[0], 4), com2 = TakeAtLeast(rings[1], 14);
    ASSERT_GE(com1.size(), 4u);
    EXPECT_EQ(Bytes(com1).substr(0, 4), "ATZ\r");
    EXPECT_EQ(com1[0].Direction, 3);
    std::string answered = Bytes(com2);
    EXPECT_EQ(answered.substr(0, 14), "ATZ\rATZ\r\r\nOK\r\n") << "the modem echoes and answers";
    EXPECT_EQ(com2[4].Direction, 2);
    EXPECT_GT(com2[4].Ms, com2[3].Ms);
}

TEST_F(ScenarioRunTest, AnEmptyTextPlaysNothing) {
    Configure("");
    EXPECT_FALSE(WaitArrival(200).Arrived);
    EXPECT_EQ(emu::PendingScenarioSteps(), 0u);
}

TEST_F(ScenarioRunTest, AFullTextRunsAllButAStatementThatMayBeCut) {
    // 503 characters and no terminator: the program cut "@10" after its "@1".
    std::string text = "port COM1;" + std::string(481, ' ') + ";port COM2@1";
    ASSERT_EQ(text.size(), 503u);
    text += "0";
    Configure(text.c_str());
    Arrival com1 = WaitArrival();
    ASSERT_TRUE(com1.Arrived);
    EXPECT_FALSE(WaitArrival(150).Arrived);
}

TEST_F(ScenarioRunTest, SkippedStatementsAreToldInANoticeAndTheRestRuns) {
    Configure("port COM1;bogus;@20 tx A;flash 300");
    Arrival arrival = WaitArrival();
    ASSERT_TRUE(arrival.Arrived);
    auto notice = Wait(IOCTL_LINE_WAIT_NOTICE, arrival.Header.PortKey, 400);
    CaptureRing* ring = Attach(arrival.Header.PortKey);
    ASSERT_TRUE(notice->Done(1000));
    EXPECT_STREQ(reinterpret_cast<const char*>(notice->output.data()),
                 "Scenario: 2 statements skipped; statement 2: unknown statement \"bogus\"");
    EXPECT_EQ(Bytes(TakeAtLeast(ring, 1)), "A");
}

// A scenario file in the temporary folder, removed afterwards.
struct TemporaryFile {
    explicit TemporaryFile(const std::string& contents) {
        char folder[MAX_PATH] = {}, name[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, folder);
        GetTempFileNameA(folder, "qsc", 0, name);
        path = name;
        HANDLE file =
            CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
        CloseHandle(file);
    }
    ~TemporaryFile() { DeleteFileA(path.c_str()); }
    std::string path;
};

TEST_F(ScenarioRunTest, TheTextMayNameAScenarioFile) {
    TemporaryFile scenario("# a longer scenario\r\nport COM4 =From a file\r\n@10 rx \\r\\nRING\\r\\n\r\n");
    Configure(("file " + scenario.path).c_str());
    Arrival arrival = WaitArrival();
    ASSERT_TRUE(arrival.Arrived);
    DWORD error = 0;
    std::vector<uint8_t> reply = Properties(arrival.Header, &error);
    EXPECT_EQ(TextProperty(reply, arrival.Header, kPropFriendlyName), L"From a file");
    CaptureRing* ring = Attach(arrival.Header.PortKey);
    EXPECT_EQ(Bytes(TakeAtLeast(ring, 8)), "\r\nRING\r\n");
}

// Script steps due together run in the script's order even when scheduled at
// different moments; rounding each to a delay from "now" once swapped them.
TEST(DriverClock, EventsDueTogetherRunInTheOrderScheduled) {
    std::vector<int> order;  // written by the driver thread, read after done
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    double due = Now() + 40;
    for (int i = 0; i < 6; ++i) {
        emu::ScheduleAt(due, [&order, i] { order.push_back(i); });
        Sleep(1);  // a new moment, a new fraction of a millisecond left
    }
    emu::ScheduleAt(due - 1000, [&order] { order.push_back(-1); });  // long due: at once
    emu::ScheduleAt(1e300, [] {});  // far off: the driver thread waits capped, never overflowed
    emu::ScheduleAt(due, [done] { SetEvent(done); });
    ASSERT_EQ(WaitForSingleObject(done, 2000), WAIT_OBJECT_0);
    EXPECT_GE(Now(), due);
    CloseHandle(done);
    EXPECT_EQ(order, (std::vector<int>{-1, 0, 1, 2, 3, 4, 5}));
    emu::CancelScheduledEvents();
}

TEST(ScenarioFile, OnlyTextFilesOnDiskWithinTheSizeLimit) {
    std::string contents, error;
    TemporaryFile good("port COM1\ntx AT\n");
    EXPECT_TRUE(emu::scenario::ReadScenarioFile(good.path, &contents, &error)) << error;
    EXPECT_EQ(contents, "port COM1\ntx AT\n");

    TemporaryFile largest(std::string(emu::scenario::kMaxFileSize, '#'));
    EXPECT_TRUE(emu::scenario::ReadScenarioFile(largest.path, &contents, &error)) << error;
    TemporaryFile tooLarge(std::string(emu::scenario::kMaxFileSize + 1, '#'));
    EXPECT_FALSE(emu::scenario::ReadScenarioFile(tooLarge.path, &contents, &error));
    EXPECT_NE(error.find("larger"), std::string::npos);
    TemporaryFile binary(std::string("port COM1\0", 10));
    EXPECT_FALSE(emu::scenario::ReadScenarioFile(binary.path, &contents, &error));
    EXPECT_NE(error.find("zero byte"), std::string::npos);
    TemporaryFile empty("");
    EXPECT_TRUE(emu::scenario::ReadScenarioFile(empty.path, &contents, &error));
    EXPECT_TRUE(contents.empty());

    EXPECT_FALSE(emu::scenario::ReadScenarioFile(good.path + ".missing", &contents, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    EXPECT_FALSE(emu::scenario::ReadScenarioFile(folder, &contents, &error)) << "a folder";
    EXPECT_FALSE(emu::scenario::ReadScenarioFile("NUL", &contents, &error)) << "a device, never a file";
    EXPECT_FALSE(emu::scenario::ReadScenarioFile("CONIN$", &contents, &error)) << "reading it would block";
}

}  // namespace
