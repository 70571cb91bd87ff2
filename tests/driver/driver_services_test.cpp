// The service lifecycle against the stand-in's service manager: what is
// created, started, counted and stopped, by one instance or two.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "driver/driver_services.h"
#include "emulator/control/test_control.h"
#include "support/emulated_driver.h"
#include "support/instance_count.h"
#include "support/named_event.h"
#include "support/process_runner.h"
#include "support/test_paths.h"
#include "system/system_calls.h"
#include "traced_calls.h"

namespace {

using namespace quorvel;
namespace control = emu::control;
using testsupport::TracedCalls;
using testsupport::TracedNames;
using testsupport::InstanceCount;
using testsupport::ResetInstanceCount;

const char kCounterName[] = "QuorvelAccessCount";

// Whether the time since startTick lies between least and most milliseconds,
// with slack below for the tick count's granularity and Sleep's early wake-ups.
testing::AssertionResult TookBetween(DWORD startTick, DWORD least, DWORD most) {
    const DWORD elapsed = GetTickCount() - startTick, slack = 50;
    if (elapsed + slack >= least && elapsed < most) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "took " << elapsed << " ms, not " << least << " to " << most;
}

class DriverServicesTest : public testing::Test {
protected:
    void SetUp() override {
        control::ResetServices();
        control::ResetDriver();
        ResetInstanceCount();
        ClearTraceRecords();
    }
    void TearDown() override {
        SetServicePollLimitMs(kServicePollLimitMs);
        control::ResetServices();
        ResetInstanceCount();
    }

    // Creates a service as someone else would have, through the seam.
    void CreateService(const char* name, const char* display, DWORD startType,
                       const std::string& path, bool start = false) {
        SC_HANDLE manager = seam::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        SC_HANDLE service = seam::CreateServiceA(
            manager, name, display, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, startType,
            SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(service, nullptr);
        if (start) ASSERT_TRUE(seam::StartServiceA(service, 0, nullptr));
        seam::CloseServiceHandle(service);
        seam::CloseServiceHandle(manager);
    }

    const std::string folder_ = testsupport::ProductFolder();
};

TEST_F(DriverServicesTest, FirstRunCreatesBothServicesStartsTheControlDriverAndCountsOne) {
    ASSERT_TRUE(InstallAndStartDrivers(folder_.c_str()));

    auto filter = control::GetService("Tolvarik");
    ASSERT_TRUE(filter.Exists);
    EXPECT_EQ(filter.DisplayName, "Quorvel Upper Filter Driver");
    EXPECT_EQ(filter.ServiceType, 1u);
    EXPECT_EQ(filter.StartType, 3u);
    EXPECT_EQ(filter.ErrorControl, 1u);
    EXPECT_EQ(filter.BinaryPath, folder_ + "tolvarik.sys");
    EXPECT_EQ(filter.LoadOrderGroup, "PNP Filter");
    EXPECT_EQ(filter.StartCount, 0u) << "the filter is never started by the program";

    auto controlService = control::GetService("Quorvel");
    ASSERT_TRUE(controlService.Exists);
    EXPECT_EQ(controlService.DisplayName, "Quorvel");
    EXPECT_EQ(controlService.ServiceType, 1u);
    EXPECT_EQ(controlService.StartType, 1u);
    EXPECT_EQ(controlService.ErrorControl, 1u);
    EXPECT_EQ(controlService.BinaryPath, folder_ + "quorvel.sys");
    EXPECT_EQ(controlService.LoadOrderGroup, std::nullopt) << "no group, not an empty one";
    EXPECT_EQ(controlService.State, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(controlService.StartCount, 1u);
    EXPECT_EQ(filter.OpenHandles + controlService.OpenHandles, 0u) << "every handle is closed";
    EXPECT_EQ(InstanceCount(), 1);

    // Traced: the filter's creation (not the control service's), the count,
    // the polls around the start, and the two closes at the end.
    auto names = TracedNames();
    ASSERT_GE(names.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 5),
              (std::vector<std::string>{"CreateService", "CloseServiceHandle", "ReleaseSemaphore",
                                        "QueryServiceStatus", "StartService"}));
    EXPECT_EQ(std::count(names.begin(), names.end(), "CreateService"), 1);
    EXPECT_TRUE(std::all_of(names.begin() + 5, names.end() - 2,
                            [](const std::string& n) { return n == "QueryServiceStatus"; }));
    EXPECT_EQ(names[names.size() - 2], "CloseServiceHandle");
    EXPECT_EQ(names.back(), "CloseServiceHandle");
    for (const auto& call : TracedCalls()) EXPECT_TRUE(call.Success) << call.Name;
}

TEST_F(DriverServicesTest, AnExistingFilterServiceIsKeptAndTheControlServiceStillCreated) {
    CreateService("Tolvarik", "Older filter", SERVICE_DEMAND_START, "C:\\old\\tolvarik.sys");
    ClearTraceRecords();
    EXPECT_TRUE(InstallAndStartDrivers(folder_.c_str()));
    EXPECT_EQ(control::GetService("Tolvarik").DisplayName, "Older filter");
    EXPECT_EQ(control::GetService("Tolvarik").BinaryPath, "C:\\old\\tolvarik.sys");
    EXPECT_EQ(control::GetService("Quorvel").State, static_cast<DWORD>(SERVICE_RUNNING));
    auto calls = TracedCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].Name, "CreateService");
    EXPECT_FALSE(calls[0].Success);
    EXPECT_EQ(calls[1].Name, "ReleaseSemaphore") << "no handle of the filter to close";
}

TEST_F(DriverServicesTest, RefusalsBeforeTheCountCreateNothingAndCountNothing) {
    // The control service exists but cannot be opened (missing rights).
    CreateService("Quorvel", "Quorvel", SERVICE_SYSTEM_START, folder_ + "quorvel.sys");
    control::FailServiceOpen("Quorvel", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(InstallAndStartDrivers(folder_.c_str()));
    EXPECT_FALSE(control::GetService("Tolvarik").Exists);
    EXPECT_EQ(control::GetService("Quorvel").StartCount, 0u);
    EXPECT_EQ(TracedNames(), std::vector<std::string>{"CloseServiceHandle"});
    control::FailServiceOpen("Quorvel", 0);
    control::ResetServices();

    control::FailManagerOpen(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(InstallAndStartDrivers(folder_.c_str()));
    control::FailManagerOpen(0);
    EXPECT_FALSE(control::GetService("Quorvel").Exists);

    // The longer driver path, "tolvarik.sys" behind the directory, must fit
    // 500 characters with its terminator.
    std::string tooLong = "C:\\" + std::string(484, 'd') + "\\";
    ASSERT_EQ(tooLong.size() + 12 + 1, 501u);
    EXPECT_FALSE(InstallAndStartDrivers(tooLong.c_str()));
    EXPECT_FALSE(control::GetService("Quorvel").Exists);
    EXPECT_EQ(InstanceCount(), 0);

    std::string justFits = "C:\\" + std::string(483, 'd') + "\\";
    EXPECT_FALSE(InstallAndStartDrivers(justFits.c_str())) << "no driver file there to start";
    EXPECT_EQ(control::GetService("Tolvarik").BinaryPath, justFits + "tolvarik.sys");
    EXPECT_EQ(control::GetService("Quorvel").BinaryPath, justFits + "quorvel.sys");
    EXPECT_EQ(InstanceCount(), 1) << "counted once the control service is there, started or not";
}

TEST_F(DriverServicesTest, AnInstanceThatNeverCountedLeavesTheDriverAndTheCountsAlone) {
    // Another instance runs the driver and is counted.
    CreateService("Quorvel", "Quorvel", SERVICE_SYSTEM_START, folder_ + "quorvel.sys", true);
    ASSERT_FALSE(InstallAndStartDrivers(("C:\\" + std::string(490, 'd') + "\\").c_str()));
    HANDLE other = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, kCounterName);
    ASSERT_NE(other, nullptr);
    ReleaseSemaphore(other, 1, nullptr);
    control::SetServiceState("Quorvel", SERVICE_RUNNING);
    // This instance, which never counted itself, leaves: it must not stop
    // the other's driver nor take its count.
    StopDriverIfLastInstance();
    EXPECT_EQ(control::GetService("Quorvel").StopCount, 0u);
    EXPECT_EQ(InstanceCount(), 1);
    CloseHandle(other);
}

TEST_F(DriverServicesTest, AServiceStoppedFromOutsideIsNotStoppedAgainAndTheCountStays) {
    ASSERT_TRUE(InstallAndStartDrivers(folder_.c_str()));
    control::StopServiceFromOutside("Quorvel");
    ClearTraceRecords();
    StopDriverIfLastInstance();
    EXPECT_EQ(control::GetService("Quorvel").StopCount, 0u);
    EXPECT_EQ(InstanceCount(), 1);
    ASSERT_EQ(TracedNames(), (std::vector<std::string>{"ControlService", "QueryServiceStatus",
                                                        "CloseServiceHandle", "CloseServiceHandle"}));
    EXPECT_FALSE(TracedCalls()[0].Success) << "interrogating a stopped service fails";
}

TEST_F(DriverServicesTest, TheLastInstanceStopsTheDriverAndTheUninstallDeletesBoth) {
    ASSERT_TRUE(InstallAndStartDrivers(folder_.c_str()));
    ASSERT_EQ(InstanceCount(), 1);

    // Without a counter handle neither stops nor deletes anything.
    HANDLE counter = InstanceCounter;
    InstanceCounter = nullptr;
    StopDriverIfLastInstance();
    DeleteDriverServices();
    InstanceCounter = counter;
    EXPECT_EQ(control::GetService("Quorvel").State, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(control::GetService("Tolvarik").Exists);

    StopDriverIfLastInstance();
    EXPECT_EQ(control::GetService("Quorvel").StopCount, 1u);
    EXPECT_EQ(control::GetService("Quorvel").State, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(InstanceCount(), 0);

    ClearTraceRecords();
    DeleteDriverServices();
    EXPECT_FALSE(control::GetService("Quorvel").Exists);
    EXPECT_FALSE(control::GetService("Tolvarik").Exists);
    EXPECT_EQ(TracedNames(),
              (std::vector<std::string>{"DeleteService", "CloseServiceHandle", "DeleteService",
                                        "CloseServiceHandle", "CloseServiceHandle"}));
}

// The test process is one instance, the probe the other; the probe leaves
// first, and the driver runs on until the test process leaves.
TEST_F(DriverServicesTest, ASecondInstanceLeavingFirstLeavesTheDriverRunning) {
    ASSERT_TRUE(InstallAndStartDrivers(folder_.c_str()));
    auto probe = testsupport::RunProcess(
        testsupport::PathIn(testsupport::TestExecutableFolder(), "instance_probe.exe"),
        "install count=2 stop running=1 count=1", 20000);
    ASSERT_TRUE(probe.exited);
    EXPECT_EQ(probe.exitCode, 0u) << "the probe's step that failed";
    EXPECT_EQ(control::GetService("Quorvel").StartCount, 1u) << "started once, by the first";
    EXPECT_EQ(control::GetService("Quorvel").StopCount, 0u);

    StopDriverIfLastInstance();
    EXPECT_EQ(control::GetService("Quorvel").StopCount, 1u);
    EXPECT_EQ(InstanceCount(), 0);
}

// Here the test process leaves first, while the probe still runs; the probe
// stops the driver when it leaves.
TEST_F(DriverServicesTest, TheFirstInstanceLeavingFirstLeavesTheDriverToTheSecond) {
    ASSERT_TRUE(InstallAndStartDrivers(folder_.c_str()));
    testsupport::NamedEvent ready("quorvel-probe-ready");
    testsupport::NamedEvent go("quorvel-probe-go");
    auto probe = testsupport::RunProcess(
        testsupport::PathIn(testsupport::TestExecutableFolder(), "instance_probe.exe"),
        "install count=2 signal=" + ready.name() + " wait=" + go.name() +
            " stop running=0 count=0",
        20000, [&](DWORD) {
            HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, ready.name().c_str());
            bool probeCounted = WaitForSingleObject(event, 15000) == WAIT_OBJECT_0;
            CloseHandle(event);
            EXPECT_TRUE(probeCounted);
            StopDriverIfLastInstance();
            EXPECT_EQ(control::GetService("Quorvel").State, static_cast<DWORD>(SERVICE_RUNNING));
            EXPECT_EQ(InstanceCount(), 1);
            go.Set();
        });
    ASSERT_TRUE(probe.exited);
    EXPECT_EQ(probe.exitCode, 0u) << "the probe's step that failed";
    EXPECT_EQ(control::GetService("Quorvel").StopCount, 1u);
}

TEST_F(DriverServicesTest, PollingGivesUpAfterTheBound) {
    EXPECT_EQ(ServicePollLimitMs(), 30000u) << "the default bound is 30 seconds";
    SetServicePollLimitMs(300);

    // Started by someone else and stuck in its start: this instance counts
    // itself, gives up and reports failure.
    CreateService("Quorvel", "Quorvel", SERVICE_SYSTEM_START, folder_ + "quorvel.sys", true);
    control::HoldServicePending("Quorvel", true);
    DWORD start = GetTickCount();
    EXPECT_FALSE(InstallAndStartDrivers(folder_.c_str()));
    EXPECT_TRUE(TookBetween(start, 300, 5000));
    EXPECT_EQ(InstanceCount(), 1);
    EXPECT_EQ(control::GetService("Quorvel").StartCount, 1u) << "no second start";

    // A stop that never settles: the count is still taken back.
    control::HoldServicePending("Quorvel", false);
    control::SetServiceState("Quorvel", SERVICE_RUNNING);
    control::HoldServicePending("Quorvel", true);
    start = GetTickCount();
    StopDriverIfLastInstance();
    EXPECT_TRUE(TookBetween(start, 1300, 6000)) << "a second's sleep, then the bound";
    EXPECT_EQ(control::GetService("Quorvel").StopCount, 1u);
    EXPECT_EQ(control::GetService("Quorvel").State, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(InstanceCount(), 0);

    // A service that never reaches the awaited state while every query
    // succeeds.
    control::HoldServicePending("Quorvel", false);
    control::SetServiceState("Quorvel", SERVICE_STOPPED);
    SC_HANDLE manager = seam::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = seam::OpenServiceA(manager, "Quorvel", SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    start = GetTickCount();
    WaitUntilRunning(service);
    EXPECT_TRUE(TookBetween(start, 300, 5000));
    seam::CloseServiceHandle(service);
    seam::CloseServiceHandle(manager);
}

}  // namespace
