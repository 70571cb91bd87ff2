// Seconds from the performance counter, for the benchmark's measurements.
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

}  // namespace bench
