// Test set-up for the driver stand-in: a clean stand-in whose control driver
// runs, so that the control device can be opened.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "emulator/control/test_control.h"
#include "wire/port_property_records.h"

namespace testsupport {

// The folder that holds the product executables and the driver files (the
// parent of the test executables' folder), with a trailing backslash.
std::string ProductFolder();

// Empties the stand-in's services and driver state, creates the "Quorvel"
// service for the driver file beside the program and starts it. False when
// the control driver does not run at the end (for programs without test
// assertions, such as the benchmark).
bool TryStartCleanEmulatedDriver();

// Empties the stand-in's services and driver state, creates the "Quorvel"
// service for the driver file beside the program and starts it.
void StartCleanEmulatedDriver();

// Opens "\\.\Quorvel" through the seam as the program does (overlapped).
HANDLE OpenEmulatedDevice();

// Adds the port to the stand-in and takes its arrival header from the
// device as the port watcher would.
quorvel::PortPropertyHeader ArriveAndTakeHeader(HANDLE device, const emu::control::PortBlobs& port);

// A test with a clean stand-in whose control device is open in device_.
class EmulatedDeviceTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    HANDLE device_ = INVALID_HANDLE_VALUE;
};

}  // namespace testsupport
