#include "support/emulated_driver.h"

#include <gtest/gtest.h>

#include "wire/request_codes.h"
#include "emulator/control/test_control.h"
#include "support/test_paths.h"
#include "support/wire_client.h"
#include "system/system_calls.h"

namespace testsupport {

std::string ProductFolder() { return BuildFolder() + "\\"; }

bool TryStartCleanEmulatedDriver() {
    emu::control::ResetServices();
    emu::control::ResetDriver();
    SC_HANDLE manager = seam::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    std::string path = ProductFolder() + "quorvel.sys";
    SC_HANDLE service = seam::CreateServiceA(
        manager, "Quorvel", "Quorvel", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
        nullptr, nullptr);
    bool running = false;
    if (service && seam::StartServiceA(service, 0, nullptr)) {
        SERVICE_STATUS status{};
        for (int i = 0; i < 10 && !running; ++i) {
            if (!seam::QueryServiceStatus(service, &status)) break;
            running = status.dwCurrentState == SERVICE_RUNNING;
        }
    }
    if (service) seam::CloseServiceHandle(service);
    seam::CloseServiceHandle(manager);
    return running;
}

void StartCleanEmulatedDriver() {
    ASSERT_TRUE(TryStartCleanEmulatedDriver()) << "the stand-in's control driver did not start";
}

HANDLE OpenEmulatedDevice() {
    return seam::CreateFileA("\\\\.\\Quorvel", 0, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

quorvel::PortPropertyHeader ArriveAndTakeHeader(HANDLE device, const emu::control::PortBlobs& port) {
    emu::control::AddPort(port);
    quorvel::PortPropertyHeader header{};
    PendingRequest request;
    EXPECT_TRUE(IssueRequest(device, quorvel::IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, &header, sizeof header,
                             request));
    return header;
}

void EmulatedDeviceTest::SetUp() {
    StartCleanEmulatedDriver();
    device_ = OpenEmulatedDevice();
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
}

void EmulatedDeviceTest::TearDown() {
    if (device_ != INVALID_HANDLE_VALUE) seam::CloseHandle(device_);
    emu::control::ResetDriver();
    emu::control::ResetServices();
}

}  // namespace testsupport
