// The service lifecycle with quorvel.exe's real seam, against Wine's own
// service control manager. Wine cannot load the kernel drivers, so the
// control driver's start fails there; what is created, counted and deleted
// is what these tests check.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "driver/driver_services.h"
#include "traced_calls.h"

namespace {

using namespace quorvel;

// A folder without driver files: the start must fail, whatever Wine makes
// of a kernel driver.
const char kModuleDirectory[] = "C:\\quorvel-scm-test\\";

struct ServiceConfig {
    bool Exists = false;
    DWORD ServiceType = 0;
    DWORD StartType = 0;
    DWORD ErrorControl = 0;
    std::string BinaryPath;
    std::string LoadOrderGroup;
    std::string Dependencies;
    std::string DisplayName;
    bool operator==(const ServiceConfig&) const = default;
};

void PrintTo(const ServiceConfig& c, std::ostream* out) {
    *out << (c.Exists ? "" : "(none) ") << "type " << c.ServiceType << ", start " << c.StartType << ", errors "
         << c.ErrorControl << ", \"" << c.BinaryPath << "\", group \"" << c.LoadOrderGroup << "\", needs \""
         << c.Dependencies << "\", \"" << c.DisplayName << "\"";
}

ServiceConfig ReadConfig(const char* name) {
    ServiceConfig config;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return config;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG);
    if (service) {
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        auto* query = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (QueryServiceConfigA(service, query, static_cast<DWORD>(buffer.size()), &needed)) {
            auto text = [](const char* value) { return std::string(value ? value : ""); };
            config.Exists = true;
            config.ServiceType = query->dwServiceType;
            config.StartType = query->dwStartType;
            config.ErrorControl = query->dwErrorControl;
            config.BinaryPath = text(query->lpBinaryPathName);
            config.LoadOrderGroup = text(query->lpLoadOrderGroup);
            config.Dependencies = text(query->lpDependencies);
            config.DisplayName = text(query->lpDisplayName);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return config;
}

DWORD OpenError(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    DWORD error = service ? 0 : GetLastError();
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

// Removes a service left behind, also by an earlier run that failed, with
// the system's calls alone.
void RemoveService(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return;
    if (SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS)) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

class RealServiceManagerTest : public testing::Test {
protected:
    void SetUp() override {
        RemoveService("Quorvel");
        RemoveService("Tolvarik");
        ClearTraceRecords();
    }
    void TearDown() override {
        RemoveService("Quorvel");
        RemoveService("Tolvarik");
    }
};

TEST_F(RealServiceManagerTest, BothServicesAreCreatedAsTheTableSaysAndDeletedAgain) {
    EXPECT_FALSE(InstallAndStartDrivers(kModuleDirectory)) << "Wine cannot run the driver";

    const std::string folder = kModuleDirectory;
    EXPECT_EQ(ReadConfig("Tolvarik"),
              (ServiceConfig{true, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             folder + "tolvarik.sys", "PNP Filter", "", "Quorvel Upper Filter Driver"}));
    EXPECT_EQ(ReadConfig("Quorvel"), (ServiceConfig{true, SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START,
                                                    SERVICE_ERROR_NORMAL, folder + "quorvel.sys", "", "", "Quorvel"}));

    // The start was tried, failed, and this instance is counted regardless.
    auto names = testsupport::TracedNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "StartService"), 1);
    for (const auto& call : testsupport::TracedCalls()) {
        if (call.Name == "StartService") EXPECT_FALSE(call.Success);
    }
    ASSERT_NE(InstanceCounter, nullptr);

    // A driver that does not run is not stopped, and the services go.
    StopDriverIfLastInstance();
    DeleteDriverServices();
    EXPECT_EQ(OpenError("Quorvel"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(OpenError("Tolvarik"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

}  // namespace
