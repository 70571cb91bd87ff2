// When the machine stood still: the record that machine_stalls (a native
// program that bench-session.sh runs beside the benchmark) keeps of the gaps
// in which each CPU ran nothing. Where every CPU's gaps overlap, the whole
// machine stood still, as a virtual machine does while its host pauses it;
// a wait that spans such a stall is the machine's for that part, not the
// program's.
#pragma once

#include <utility>
#include <vector>

namespace bench {

// A stretch of time: its start in seconds of the system clock since 1970
// (bench_clock.h's WallNow) and its length in seconds.
struct WallSpan {
    double Start = 0;
    double Seconds = 0;
};

class MachineStalls {
public:
    // Reads the record at path; false (and nothing measured) when there is
    // none or it is not one.
    bool Load(const char* path);
    bool Measured() const { return measured_; }
    // Seconds within [from, to) in which the whole machine stood still.
    double StalledWithin(double from, double to) const;
    // The longest such stall that overlaps [from, to), in seconds.
    double LongestWithin(double from, double to) const;
    // The span's seconds less those in which the machine stood still.
    double OwnSeconds(const WallSpan& span) const;

private:
    bool measured_ = false;
    std::vector<std::pair<double, double>> stalls_;  // [start, end), sorted, apart
};

// The longest of the spans' own seconds (MachineStalls::OwnSeconds).
double LongestOwn(const std::vector<WallSpan>& spans, const MachineStalls& stalls);

}  // namespace bench
