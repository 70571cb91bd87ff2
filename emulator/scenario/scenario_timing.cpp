#include "emulator/scenario/scenario_timing.h"

#include <cmath>
#include <limits>

namespace emu::scenario {

double RunStartMs(const Generator& generator, uint64_t run) {
    if (generator.Rate == 0) return std::numeric_limits<double>::infinity();
    return static_cast<double>(run) * generator.RunLength * 1000.0 / generator.Rate;
}

uint64_t TotalRuns(const Generator& generator) {
    if (generator.Endless) return std::numeric_limits<uint64_t>::max();
    if (generator.Rate == 0 || generator.RunLength == 0) return 0;
    // Runs k with k * RunLength * 1000 < DurationMs * Rate.
    uint64_t span = generator.DurationMs * generator.Rate;
    uint64_t step = uint64_t{generator.RunLength} * 1000;
    return (span + step - 1) / step;
}

uint64_t RunsStartedBy(const Generator& generator, double elapsedMs) {
    if (!(elapsedMs >= 0) || generator.Rate == 0 || generator.RunLength == 0) return 0;
    double started = std::floor(elapsedMs * generator.Rate / (generator.RunLength * 1000.0)) + 1;
    uint64_t total = TotalRuns(generator);
    if (started >= static_cast<double>(total)) return total;
    return static_cast<uint64_t>(started);
}

uint8_t RunDirection(const Generator& generator, uint64_t run) {
    switch (generator.Direction) {
        case GeneratorDirection::Received: return kReceived;
        case GeneratorDirection::Transmitted: return kTransmitted;
        case GeneratorDirection::Alternate: break;
    }
    return run % 2 == 0 ? kReceived : kTransmitted;
}

char GeneratedByte(uint8_t direction, uint64_t n) {
    char first = direction == kTransmitted ? 'a' : 'A';
    return static_cast<char>(first + static_cast<int>(n % 26));
}

}  // namespace emu::scenario
