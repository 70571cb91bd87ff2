// Scenarios played by the stand-in, seen through its control device as the
// program sees them: arrivals, property replies, capture records with their
// timestamps, flashes, notices, faults; started by the configuration request.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/kernel/driver_clock.h"
#include "emulator/scenario/scenario.h"
#include "emulator/scenario/scenario_file.h"
#include "emulator/runner/scenario_runner.h"
#include "emulator/control/test_control.h"
#include "support/call_errors.h"
#include "support/emulated_driver.h"
#include "support/wire_client.h"
#include "system/system_calls.h"
#include "wire/capture_records.h"
#include "wire/port_property_records.h"
#include "wire/request_codes.h"

namespace {

using namespace quorvel;
namespace control = emu::control;

double Now() { return emu::DriverClockMilliseconds(); }

// An arrival and when the test saw it.
struct TimedArrival : testsupport::Arrival {
    double AtMs = 0;
};

using Record = testsupport::TakenRecord;  // the rings count milliseconds in these tests
using testsupport::TakeRecords;

// The records' bytes, in order.
std::string Bytes(const std::vector<Record>& records) {
    std::string bytes;
    for (const Record& record : records) bytes.push_back(static_cast<char>(record.Data));
    return bytes;
}

class ScenarioRunTest : public testsupport::EmulatedDeviceTest {
protected:
    // The driver plays scenarios, its rings counting milliseconds, before the
    // device opens; the fixture's end closes it and resets the driver.
    void SetUp() override {
        testsupport::StartCleanEmulatedDriver();
        control::RunScenarios(true);
        control::SetTickFrequency(1000);
        device_ = testsupport::OpenEmulatedDevice();
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }

    void Configure(const char* text) {
        configuredMs_ = Now();
        ASSERT_TRUE(testsupport::Configure(device_, text));
    }

    TimedArrival WaitArrival(DWORD timeoutMs = 2000) {
        TimedArrival arrival{testsupport::WaitArrival(device_, timeoutMs)};
        arrival.AtMs = Now();
        return arrival;
    }

    // Plays the text and waits for its first port, kept in arrival_.
    void PlayUntilArrival(const char* text) {
        Configure(text);
        arrival_ = WaitArrival();
        ASSERT_TRUE(arrival_.Arrived);
    }

    testsupport::PropertyReply Properties(const PortPropertyHeader& header) {
        return testsupport::RequestProperties(device_, header);
    }

    bool PortGone(const PortPropertyHeader& header) {
        return Properties(header).Error == ERROR_DEV_NOT_EXIST;
    }

    // Lends the driver a ring for the port, as the capture thread does, at attachedMs_.
    CaptureRing* Attach(uint32_t key) {
        attachedMs_ = Now();
        constexpr uint32_t kCapacity = 20000;
        rings_.push_back(testsupport::NewRing(kCapacity, key));
        EXPECT_TRUE(testsupport::AttachRing(device_, rings_.back().get()));
        return rings_.back().get();
    }

    // Takes records until there are `count` of them or two seconds have
    // passed: the driver thread may run late on a busy machine.
    static std::vector<Record> TakeAtLeast(CaptureRing* ring, size_t count) {
        std::vector<Record> records;
        double startMs = Now();
        for (;;) {
            std::vector<Record> more = TakeRecords(ring);
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
    std::unique_ptr<testsupport::PendingRequest> Wait(uint32_t code, uint32_t key, size_t outputSize) {
        return testsupport::IssuePortWait(device_, code, key, outputSize);
    }

    double configuredMs_ = 0;
    double attachedMs_ = 0;
    TimedArrival arrival_;
    std::vector<testsupport::OwnedRing> rings_;  // go after the fixture's end has reset the driver
};

// Timing tolerances: the driver thread never acts early; late by a few
// milliseconds normally, by hundreds on a busy machine. Late bounds still
// catch a step taken a round late or counted in the wrong unit.
constexpr double kEarly = 1.5;
constexpr double kLate = 400;

// What was due at dueMs came at ms: never early, at most kLate late.
void ExpectOnTime(double ms, double dueMs, const std::string& what) {
    EXPECT_GE(ms, dueMs - kEarly) << what;
    EXPECT_LT(ms, dueMs + kLate) << what;
}

TEST_F(ScenarioRunTest, PortsArriveAndLeaveAtTheirTimesWithTheirProperties) {
    Configure("port COM1@0-250;port COM2@150 =Lab \\x80 modem;port COM3@100 empty;port COM9@100 foreign");
    TimedArrival first = WaitArrival(), second = WaitArrival(), third = WaitArrival(), fourth = WaitArrival();
    ASSERT_TRUE(first.Arrived && second.Arrived && third.Arrived && fourth.Arrived);
    EXPECT_LT(first.AtMs - configuredMs_, kLate);
    EXPECT_GE(second.AtMs - configuredMs_, 100 - kEarly);
    ExpectOnTime(fourth.AtMs - configuredMs_, 150, "COM2's arrival");

    // In order of their times; at equal times in the order written.
    testsupport::PropertyReply com1 = Properties(first.Header);
    ASSERT_EQ(com1.Error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(com1.Text(kPropComPort), L"COM1");
    EXPECT_EQ(com1.Text(kPropFriendlyName), L"Standard 56000 bps V90 Modem #1");
    for (uint32_t length : second.Header.Lengths) EXPECT_EQ(length, 0u) << "COM3 is empty";
    EXPECT_EQ(Properties(third.Header).Text(kPropFriendlyName), L"\x041C\x043E\x0434\x0435\x043C COM9");
    testsupport::PropertyReply com2 = Properties(fourth.Header);
    EXPECT_EQ(com2.Text(kPropFriendlyName), L"Lab \x20AC modem")
        << "the friendly name is read in code page 1252";
    EXPECT_EQ(com2.Text(kPropComPort), L"COM2");

    // COM1 leaves at 250, and only COM1.
    while (!PortGone(first.Header) && Now() - configuredMs_ < 2000) Sleep(2);
    ExpectOnTime(Now() - configuredMs_, 250, "COM1's leaving");
    EXPECT_FALSE(PortGone(fourth.Header));
}

TEST_F(ScenarioRunTest, TrafficCountsFromTheAttachWithHonestTimestamps) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilArrival(
        "port COM1;@100 tx ATZ\\r;+50 rx OK;gap 20;+30 tx ABC;@300 flash 5;notice Hi there;+60 leave"));
    uint32_t key = arrival_.Header.PortKey;
    Sleep(150);  // nobody listens yet: the port's time has not begun
    auto signal = Wait(IOCTL_LINE_WAIT_SIGNAL, key, 4);
    auto notice = Wait(IOCTL_LINE_WAIT_NOTICE, key, 400);
    auto data = Wait(IOCTL_LINE_WAIT_DATA, key, 0);
    CaptureRing* ring = Attach(key);
    EXPECT_EQ(ring->TickFrequency, 1000u);

    ASSERT_TRUE(data->Signalled(2000));
    EXPECT_EQ(data->overlapped.Internal, 0u) << "the data wait completes with the first records";
    ASSERT_TRUE(signal->Signalled(2000));
    double flashMs = Now();
    ASSERT_TRUE(notice->Signalled(50)) << "the notice comes with the flash";
    EXPECT_EQ(signal->output, control::NumberBlob(5)) << "colour 5";
    EXPECT_STREQ(reinterpret_cast<const char*>(notice->output.data()), "Hi there");
    ExpectOnTime(flashMs - attachedMs_, 300, "the flash");

    std::vector<Record> records = TakeRecords(ring);
    ASSERT_EQ(Bytes(records), "ATZ\rOKABC");
    // Each byte passes at its time in the script, counted from the attach,
    // never before it; "gap 20" spaces ABC 20 ms apart.
    const double plannedMs[] = {100, 100, 100, 100, 150, 150, 180, 200, 220};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].Direction, i >= 4 && i < 6 ? 2 : 3) << "byte " << i;
        if (i > 0) EXPECT_GE(records[i].Time, records[i - 1].Time) << "timestamps in order";
        ExpectOnTime(static_cast<double>(records[i].Time), attachedMs_ + plannedMs[i], "byte " + std::to_string(i));
    }
    EXPECT_EQ(records[3].Time, records[0].Time) << "bytes without a gap pass together";

    // At 360 the port leaves; nothing of the scenario waits any more.
    while (!PortGone(arrival_.Header) && Now() - attachedMs_ < 2000) Sleep(2);
    EXPECT_GE(Now() - attachedMs_, 360 - kEarly);
    EXPECT_EQ(emu::PendingScenarioSteps(), 0u);
}

TEST_F(ScenarioRunTest, GeneratorKeepsItsByteRateAndRunLength) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilArrival("port COM1;gen rate=4000 run=40 for=1000"));
    CaptureRing* ring = Attach(arrival_.Header.PortKey);
    Sleep(1000);
    std::vector<Record> records = TakeAtLeast(ring, 4000);
    ASSERT_EQ(records.size(), 4000u) << "100 runs of 40 bytes, the last one starting before 1000 ms";

    EXPECT_GE(static_cast<double>(records.front().Time), attachedMs_ - kEarly);
    size_t byHalfSecond = 0, byHalfSecondLate = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        size_t run = i / 40, inRun = i % 40;
        uint8_t direction = run % 2 == 0 ? 2 : 3;
        ASSERT_EQ(records[i].Direction, direction) << "byte " << i;
        char expected = static_cast<char>((direction == 2 ? 'A' : 'a') + ((run / 2) * 40 + inRun) % 26);
        ASSERT_EQ(records[i].Data, static_cast<uint8_t>(expected)) << "byte " << i;
        if (inRun > 0) ASSERT_EQ(records[i].Time, records[i - 1].Time) << "a run passes at once";
        double ms = static_cast<double>(records[i].Time);
        byHalfSecond += ms < attachedMs_ + 500 - kEarly;
        byHalfSecondLate += ms < attachedMs_ + 500 + kLate;
    }
    // 4000 bytes a second, a run every 10 ms: by 500 ms no more than the 51
    // runs that have started, and those all pass soon after.
    EXPECT_LE(byHalfSecond, 51u * 40);
    EXPECT_GE(byHalfSecondLate, 51u * 40);
    EXPECT_GE(static_cast<double>(records.back().Time), attachedMs_ + 990 - kEarly) << "the last run starts at 990 ms";
    EXPECT_TRUE(StepsRunOut()) << "a generator that has ended schedules nothing";
    EXPECT_TRUE(TakeRecords(ring).empty());
}

TEST_F(ScenarioRunTest, ALoopRunsItsRoundsAndStops) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilArrival("port COM1;tx X;+30 rx Y;+15 loop 3"));
    CaptureRing* ring = Attach(arrival_.Header.PortKey);
    std::vector<Record> records = TakeAtLeast(ring, 6);
    ASSERT_EQ(Bytes(records), "XYXYXY");
    for (size_t i = 0; i < records.size(); ++i) {
        double plannedMs = 45.0 * static_cast<double>(i / 2) + (i % 2 ? 30 : 0);  // a round lasts 45 ms
        ExpectOnTime(static_cast<double>(records[i].Time), attachedMs_ + plannedMs, "byte " + std::to_string(i));
    }
    EXPECT_TRUE(StepsRunOut());
    EXPECT_TRUE(TakeRecords(ring).empty()) << "three rounds and no more";
    EXPECT_FALSE(PortGone(arrival_.Header)) << "the port stays after its rounds";
}

TEST_F(ScenarioRunTest, APortThatLeavesGetsNoMoreWork) {
    // COM1 loops for ever and is attached; COM2 is never attached, so the
    // scenario keeps looking for its attach until it leaves.
    Configure("port COM1-200;tx X;+20 loop;port COM2-150");
    TimedArrival com1 = WaitArrival(), com2 = WaitArrival();
    ASSERT_TRUE(com1.Arrived && com2.Arrived);
    CaptureRing* ring = Attach(com1.Header.PortKey);
    EXPECT_GT(emu::PendingScenarioSteps(), 0u);
    while (!PortGone(com1.Header) && Now() - configuredMs_ < 2000) Sleep(2);
    EXPECT_TRUE(PortGone(com2.Header));
    EXPECT_GE(TakeRecords(ring).size(), 5u);
    EXPECT_TRUE(StepsRunOut());
    EXPECT_TRUE(TakeRecords(ring).empty());
}

TEST_F(ScenarioRunTest, ResetDriverEndsTheScenarioAndSwitchesScenariosOff) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilArrival("port COM1@200;port COM2;tx X;+20 loop"));  // COM2 at once
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
    testsupport::PendingRequest persistent, again;
    EXPECT_TRUE(testsupport::FailsWith(
        testsupport::IssueRequest(device_, IOCTL_LINE_SET_PERSISTENT, &flag, 1, persistent), ERROR_MEDIA_CHANGED));
    EXPECT_TRUE(testsupport::IssueRequest(device_, IOCTL_LINE_SET_PERSISTENT, &flag, 1, again))
        << "the restart request is made once";

    TimedArrival com1 = WaitArrival(), com2 = WaitArrival();
    ASSERT_TRUE(com1.Arrived && com2.Arrived);
    EXPECT_EQ(Properties(com1.Header).Error, static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(Properties(com1.Header).Error, static_cast<DWORD>(ERROR_GEN_FAILURE)) << "every time";
    EXPECT_EQ(Properties(com2.Header).Error, static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(ScenarioRunTest, WithoutSettingsTextTheDefaultModemsTalk) {
    Configure(nullptr);
    std::vector<TimedArrival> ports;
    for (int i = 0; i < 3; ++i) ports.push_back(WaitArrival());
    std::vector<CaptureRing*> rings;
    for (size_t i = 0; i < ports.size(); ++i) {
        ASSERT_TRUE(ports[i].Arrived) << i;
        EXPECT_EQ(Properties(ports[i].Header).Text(kPropComPort), L"COM" + std::to_wstring(i + 1));
        rings.push_back(Attach(ports[i].Header.PortKey));
    }
    std::vector<Record> com1 = TakeAtLeast(rings[0], 4), com2 = TakeAtLeast(rings[1], 14);
    ASSERT_GE(com1.size(), 4u);
    EXPECT_EQ(Bytes(com1).substr(0, 4), "ATZ\r");
    EXPECT_EQ(com1[0].Direction, 3);
    EXPECT_EQ(Bytes(com2).substr(0, 14), "ATZ\rATZ\r\r\nOK\r\n") << "the modem echoes and answers";
    EXPECT_EQ(com2[4].Direction, 2);
    EXPECT_GT(com2[4].Time, com2[3].Time);
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
    ASSERT_NO_FATAL_FAILURE(PlayUntilArrival(text.c_str()));  // COM1 arrives
    EXPECT_FALSE(WaitArrival(150).Arrived);
}

TEST_F(ScenarioRunTest, SkippedStatementsAreToldInANoticeAndTheRestRuns) {
    ASSERT_NO_FATAL_FAILURE(PlayUntilArrival("port COM1;bogus;@20 tx A;flash 300"));
    auto notice = Wait(IOCTL_LINE_WAIT_NOTICE, arrival_.Header.PortKey, 400);
    CaptureRing* ring = Attach(arrival_.Header.PortKey);
    ASSERT_TRUE(notice->Signalled(1000));
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
    ASSERT_NO_FATAL_FAILURE(PlayUntilArrival(("file " + scenario.path).c_str()));
    EXPECT_EQ(Properties(arrival_.Header).Text(kPropFriendlyName), L"From a file");
    EXPECT_EQ(Bytes(TakeAtLeast(Attach(arrival_.Header.PortKey), 8)), "\r\nRING\r\n");
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
