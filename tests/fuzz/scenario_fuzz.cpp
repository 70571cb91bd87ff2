// The stand-in's settings text, however odd: every statement parsed or
// skipped with a reason, within the scenario's limits; its escapes; a
// "file" statement that names a file of the same text.
#include <cstdint>
#include <string>

#include "emulator/scenario/scenario_escapes.h"
#include "emulator/scenario/scenario_parser.h"
#include "fuzz_check.h"

using namespace emu::scenario;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    ParseOptions options;
    options.MayBeCut = size % 2 == 1;
    options.ReadFile = [&](const std::string&, std::string* contents, std::string*) {
        *contents = text;
        return true;
    };
    Scenario scenario = ParseScenario(text, options);
    FUZZ_CHECK(scenario.Ports.size() <= kMaxPorts);
    FUZZ_CHECK(scenario.Problems.size() <= kMaxProblems && scenario.Problems.size() <= scenario.ProblemCount);
    size_t events = 0;
    for (const Port& port : scenario.Ports) {
        events += port.Events.size();
        FUZZ_CHECK(port.Name.size() <= kMaxNameLength && port.ArriveMs <= kMaxTimeMs);
        for (const Event& event : port.Events) FUZZ_CHECK(event.AtMs <= kMaxTimeMs);
    }
    FUZZ_CHECK(events <= kMaxEvents);
    std::string bytes, error;
    if (DecodeEscapes(text, &bytes, &error)) FUZZ_CHECK(bytes.size() <= text.size());
    return 0;
}
