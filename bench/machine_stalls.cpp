#include "bench/machine_stalls.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace bench {
namespace {

using Spans = std::vector<std::pair<double, double>>;

// Joins overlapping spans of one CPU, so that each counts once below.
Spans Merged(Spans spans) {
    std::sort(spans.begin(), spans.end());
    Spans merged;
    for (const auto& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, span.second);
        } else {
            merged.push_back(span);
        }
    }
    return merged;
}

// Where all cpus CPUs stood still at once: a sweep over every gap's start
// (+1) and end (-1), ends before starts at the same instant.
Spans EveryCpuStill(const std::map<int, Spans>& gaps, size_t cpus) {
    std::vector<std::pair<double, int>> edges;
    for (const auto& [cpu, spans] : gaps) {
        for (const auto& span : Merged(spans)) {
            edges.push_back({span.first, +1});
            edges.push_back({span.second, -1});
        }
    }
    std::sort(edges.begin(), edges.end());
    Spans still;
    size_t active = 0;
    for (const auto& [at, step] : edges) {
        if (step < 0 && active == cpus) still.back().second = at;
        active = step > 0 ? active + 1 : active - 1;
        if (step > 0 && active == cpus) still.push_back({at, at});
    }
    return still;
}

}  // namespace

bool MachineStalls::Load(const char* path) {
    measured_ = false;
    stalls_.clear();
    std::FILE* file = path ? std::fopen(path, "r") : nullptr;
    if (!file) return false;
    unsigned cpus = 0;
    std::map<int, Spans> gaps;
    if (std::fscanf(file, "cpus %u", &cpus) == 1 && cpus > 0) {
        int cpu = 0;
        long long start = 0, end = 0;
        while (std::fscanf(file, "%d %lld %lld", &cpu, &start, &end) == 3) {
            if (end > start) gaps[cpu].push_back({start / 1e6, end / 1e6});
        }
        measured_ = true;
    }
    std::fclose(file);
    if (measured_ && gaps.size() == cpus) stalls_ = EveryCpuStill(gaps, cpus);
    return measured_;
}

double MachineStalls::StalledWithin(double from, double to) const {
    double stalled = 0;
    for (const auto& [start, end] : stalls_) {
        if (start >= to) break;
        if (end > from) stalled += std::min(end, to) - std::max(start, from);
    }
    return stalled;
}

double MachineStalls::LongestWithin(double from, double to) const {
    double longest = 0;
    for (const auto& [start, end] : stalls_) {
        if (start >= to) break;
        if (end > from) longest = std::max(longest, end - start);
    }
    return longest;
}

double MachineStalls::OwnSeconds(const WallSpan& span) const {
    return span.Seconds - StalledWithin(span.Start, span.Start + span.Seconds);
}

double LongestOwn(const std::vector<WallSpan>& spans, const MachineStalls& stalls) {
    double longest = 0;
    for (const WallSpan& span : spans) longest = std::max(longest, stalls.OwnSeconds(span));
    return longest;
}

}  // namespace bench
