// Where the test executables and the product executables are: test
// executables live in <build>/tests/, the product executables, the driver
// files and helper programs they look for in <build>/ and <build>/tests/.
#pragma once

#include <string>

namespace testsupport {

// Folder of the running test executable, without a trailing separator.
std::string TestExecutableFolder();

// The build folder: the parent of TestExecutableFolder().
std::string BuildFolder();

// The monitor built against the driver stand-in: quorvel-emu.exe in the
// build folder.
std::string MonitorProgram();

// folder + "\" + name.
std::string PathIn(const std::string& folder, const std::string& name);

// True when path names an existing file (not a folder).
bool FileExists(const std::string& path);

}  // namespace testsupport
