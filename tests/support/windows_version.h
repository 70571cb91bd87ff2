// Runs an executable as if on a chosen Windows version. Wine reports the
// version per executable file name, from the string value `Version` under
// HKCU\Software\Wine\AppDefaults\<file name>; values such as "win2k",
// "winxp", "win2003", "win7", "win10", "nt40", "win98".
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "support/process_runner.h"

namespace testsupport {

// The registry key, under HKEY_CURRENT_USER, that holds Wine's settings for
// executables named exeFileName.
std::string AppDefaultsKey(const std::string& exeFileName);

// Copies exePath to a uniquely named file in the same folder (the program
// looks for files beside itself), sets the copy's Version to version, runs
// the copy with RunProcess, then deletes the key and the copy, also when the
// process had to be killed or whileRunning threw. Throws std::runtime_error
// when the copy or the registry value cannot be made.
ProcessResult RunAsWindowsVersion(const std::string& exePath, const std::string& version,
                                  const std::string& arguments, DWORD timeoutMs,
                                  const std::function<void(DWORD processId)>& whileRunning = {});

}  // namespace testsupport
