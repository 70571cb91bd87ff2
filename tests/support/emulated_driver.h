// Test set-up for the driver stand-in: a clean stand-in whose control driver
// runs, so that the control device can be opened.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// The folder that holds the product executables and the driver files (the
// parent of the test executables' folder), with a trailing backslash.
std::string ProductFolder();

// Empties the stand-in's services and driver state, creates the "Quorvel"
// service for the driver file beside the program and starts it.
void StartCleanEmulatedDriver();

// Opens "\\.\Quorvel" through the seam as the program does (overlapped).
HANDLE OpenEmulatedDevice();

}  // namespace testsupport
