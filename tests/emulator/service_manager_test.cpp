// The stand-in's service manager, seen through the seam as the program sees
// the system's.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/control/test_control.h"
#include "support/call_errors.h"
#include "support/emulated_driver.h"
#include "system/system_calls.h"

namespace {

using emu::control::GetService;
using testsupport::FailsWith;

class EmulatedServiceManager : public testing::Test {
protected:
    void SetUp() override {
        emu::control::ResetServices();
        manager_ = seam::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
    }
    void TearDown() override {
        seam::CloseServiceHandle(manager_);
        emu::control::ResetServices();
    }

    SC_HANDLE Create(const char* name, const std::string& path, const char* group = nullptr) {
        return seam::CreateServiceA(manager_, name, "Display of service", SERVICE_ALL_ACCESS,
                                    SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_NORMAL, path.c_str(), group, nullptr, nullptr,
                                    nullptr, nullptr);
    }

    DWORD Query(SC_HANDLE service) {
        SERVICE_STATUS status{};
        EXPECT_TRUE(seam::QueryServiceStatus(service, &status));
        return status.dwCurrentState;
    }
    // The states that the next queries report, one a query.
    using States = std::vector<DWORD>;
    States Queries(SC_HANDLE service, size_t count) {
        States states(count);
        for (DWORD& state : states) state = Query(service);
        return states;
    }

    std::string driverPath_ = testsupport::ProductFolder() + "quorvel.sys";
    SC_HANDLE manager_ = nullptr;
};

TEST_F(EmulatedServiceManager, CreateKeepsEveryFieldAndRefusesADuplicate) {
    SC_HANDLE service = Create("Tolvarik", "C:\\drivers\\tolvarik.sys", "PNP Filter");
    ASSERT_NE(service, nullptr);
    auto info = GetService("Tolvarik");
    EXPECT_TRUE(info.Exists);
    EXPECT_EQ(info.DisplayName, "Display of service");
    EXPECT_EQ(info.BinaryPath, "C:\\drivers\\tolvarik.sys");
    EXPECT_EQ(info.LoadOrderGroup, "PNP Filter");
    EXPECT_EQ(info.ServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(info.StartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(info.ErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(info.State, static_cast<DWORD>(SERVICE_STOPPED));

    EXPECT_TRUE(FailsWith(Create("tolvarik", "x"), ERROR_SERVICE_EXISTS)) << "names are case-insensitive";
    seam::CloseServiceHandle(service);
}

// The drivers' services are opened and created in one way only: the local
// active database and every service with all access, services created
// without tag, dependencies, account or password. Anything else is refused
// and creates nothing; a missing load-order group stays missing.
TEST_F(EmulatedServiceManager, OnlyTheCallsTheDriversAreInstalledWithAreTaken) {
    SetLastError(0);
    EXPECT_TRUE(FailsWith(seam::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT), ERROR_ACCESS_DENIED));
    const DWORD all = SC_MANAGER_ALL_ACCESS;
    EXPECT_TRUE(FailsWith(seam::OpenSCManagerA("\\elsewhere", nullptr, all), ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(FailsWith(seam::OpenSCManagerA(nullptr, "ServicesFailed", all), ERROR_INVALID_PARAMETER));
    SC_HANDLE active = seam::OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
    EXPECT_NE(active, nullptr) << "the active database by its name";
    seam::CloseServiceHandle(active);

    DWORD tag = 7;
    const char* text = "x";
    struct Case {
        const char* name;
        DWORD access;
        LPDWORD tag;
        const char *dependencies, *account, *password;
        DWORD error;
    } cases[] = {
        {"less access", SERVICE_QUERY_STATUS | SERVICE_START, nullptr, nullptr, nullptr, nullptr, ERROR_ACCESS_DENIED},
        {"a tag", SERVICE_ALL_ACCESS, &tag, nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"dependencies", SERVICE_ALL_ACCESS, nullptr, text, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"an account", SERVICE_ALL_ACCESS, nullptr, nullptr, text, nullptr, ERROR_INVALID_PARAMETER},
        {"a password", SERVICE_ALL_ACCESS, nullptr, nullptr, nullptr, text, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_TRUE(FailsWith(seam::CreateServiceA(manager_, "Quorvel", "Quorvel", c.access, SERVICE_KERNEL_DRIVER,
                                                   SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL, driverPath_.c_str(),
                                                   nullptr, c.tag, c.dependencies, c.account, c.password),
                              c.error));
        EXPECT_FALSE(GetService("Quorvel").Exists);
    }
    EXPECT_EQ(tag, 7u) << "no tag written";

    SC_HANDLE none = Create("Quorvel", driverPath_, nullptr);
    SC_HANDLE empty = Create("Tolvarik", driverPath_, "");
    EXPECT_EQ(GetService("Quorvel").LoadOrderGroup, std::nullopt) << "no group";
    EXPECT_EQ(GetService("Tolvarik").LoadOrderGroup, "") << "an empty one, as given";
    EXPECT_TRUE(FailsWith(seam::OpenServiceA(manager_, "Quorvel", SERVICE_QUERY_STATUS), ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetService("Quorvel").OpenHandles, 1u);
    seam::CloseServiceHandle(none);
    seam::CloseServiceHandle(empty);
}

TEST_F(EmulatedServiceManager, OpeningAMissingServiceFailsWith1060) {
    SetLastError(0);
    EXPECT_TRUE(FailsWith(seam::OpenServiceA(manager_, "Quorvel", SERVICE_ALL_ACCESS), ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(EmulatedServiceManager, StartPassesThroughPendingAndStopToo) {
    SC_HANDLE service = Create("Quorvel", driverPath_);
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(seam::StartServiceA(service, 0, nullptr));
    EXPECT_EQ(Queries(service, 3), (States{SERVICE_START_PENDING, SERVICE_START_PENDING, SERVICE_RUNNING}));
    EXPECT_TRUE(FailsWith(seam::StartServiceA(service, 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING));

    SERVICE_STATUS status{};
    EXPECT_TRUE(seam::ControlService(service, SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(seam::ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(Queries(service, 3), (States{SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED}));

    for (DWORD control : {SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_STOP}) {
        EXPECT_TRUE(FailsWith(seam::ControlService(service, control, &status), ERROR_SERVICE_NOT_ACTIVE)) << control;
    }
    EXPECT_EQ(GetService("Quorvel").StartCount, 1u);
    EXPECT_EQ(GetService("Quorvel").StopCount, 1u);
    seam::CloseServiceHandle(service);
}

TEST_F(EmulatedServiceManager, StartFailsWhenTheDriverFileIsMissing) {
    SC_HANDLE service = Create("Quorvel", testsupport::ProductFolder() + "no-such-driver.sys");
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(FailsWith(seam::StartServiceA(service, 0, nullptr), ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Query(service), static_cast<DWORD>(SERVICE_STOPPED));
    seam::CloseServiceHandle(service);
}

TEST_F(EmulatedServiceManager, DeletedServiceStaysUntilItsLastHandleCloses) {
    SC_HANDLE first = Create("Quorvel", driverPath_);
    SC_HANDLE second = seam::OpenServiceA(manager_, "Quorvel", SERVICE_ALL_ACCESS);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetService("Quorvel").OpenHandles, 2u);
    ASSERT_TRUE(seam::DeleteService(first));
    EXPECT_TRUE(FailsWith(seam::DeleteService(second), ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_TRUE(FailsWith(Create("Quorvel", driverPath_), ERROR_SERVICE_MARKED_FOR_DELETE));

    seam::CloseServiceHandle(first);
    EXPECT_TRUE(GetService("Quorvel").MarkedForDeletion);
    seam::CloseServiceHandle(second);
    EXPECT_FALSE(GetService("Quorvel").Exists);
    EXPECT_TRUE(FailsWith(seam::OpenServiceA(manager_, "Quorvel", SERVICE_ALL_ACCESS), ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(EmulatedServiceManager, InjectedFaults) {
    SC_HANDLE service = Create("Quorvel", driverPath_);
    seam::CloseServiceHandle(service);

    emu::control::FailServiceOpen("Quorvel", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(FailsWith(seam::OpenServiceA(manager_, "Quorvel", SERVICE_ALL_ACCESS), ERROR_ACCESS_DENIED));
    emu::control::FailServiceOpen("Quorvel", 0);

    emu::control::FailManagerOpen(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(FailsWith(seam::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), ERROR_ACCESS_DENIED));
    emu::control::FailManagerOpen(0);

    service = seam::OpenServiceA(manager_, "Quorvel", SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    emu::control::HoldServicePending("Quorvel", true);
    ASSERT_TRUE(seam::StartServiceA(service, 0, nullptr));
    EXPECT_EQ(Queries(service, 20), States(20, SERVICE_START_PENDING));
    emu::control::HoldServicePending("Quorvel", false);
    EXPECT_EQ(Queries(service, 3).back(), static_cast<DWORD>(SERVICE_RUNNING));

    emu::control::StopServiceFromOutside("Quorvel");
    EXPECT_EQ(Query(service), static_cast<DWORD>(SERVICE_STOPPED));
    seam::CloseServiceHandle(service);
}

TEST_F(EmulatedServiceManager, StaleHandlesAreRefused) {
    SC_HANDLE service = Create("Quorvel", driverPath_);
    ASSERT_TRUE(seam::CloseServiceHandle(service));
    EXPECT_TRUE(FailsWith(seam::CloseServiceHandle(service), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FailsWith(seam::OpenServiceA(nullptr, "Quorvel", SERVICE_ALL_ACCESS), ERROR_INVALID_HANDLE));
}

}  // namespace
