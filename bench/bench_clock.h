// Seconds from the performance counter, for the benchmark's measurements,
// and the system clock's seconds since 1970, to set them beside the record
// of a program outside Wine (machine_stalls.h).
#pragma once

#include <windows.h>

namespace bench {

inline double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

// Wine reads the system time from Linux's realtime clock, to the tenth of a
// microsecond.
inline double WallNow() {
    using PreciseTime = void(WINAPI*)(FILETIME*);
    static const auto precise = reinterpret_cast<PreciseTime>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME time;
    if (precise) precise(&time);
    else GetSystemTimeAsFileTime(&time);
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    constexpr unsigned long long kUnixEpochTicks = 116444736000000000ULL;  // 1601 to 1970 in 100 ns
    return static_cast<double>(ticks.QuadPart - kUnixEpochTicks) / 1e7;
}

}  // namespace bench
