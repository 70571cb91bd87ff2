// This process's CPU time so far, for tests and the benchmark that weigh
// what the monitor's threads cost.
#pragma once

#include <windows.h>

#include <cstdint>

namespace testsupport {

// Every thread's user and kernel time, in seconds (0 when it cannot be read).
inline double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace testsupport
