// The stand-in's settings text, and how it becomes a scenario (where it
// comes from in the configuration record: settings_record.h). The syntax is described in the
// README ("The stand-in's settings text").
//
// Parsing never fails as a whole: a statement that cannot be understood is
// skipped and listed among the scenario's problems, and the rest runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "emulator/scenario/scenario.h"

namespace emu::scenario {

// Reads a scenario file: true with its bytes, or false with a reason.
using FileReader = std::function<bool(const std::string& path, std::string* contents, std::string* error)>;

struct ParseOptions {
    // The text filled its whole field, so the program may have cut it: a
    // last statement that is not closed by ';' is dropped rather than run
    // with half its value.
    bool MayBeCut = false;
    // Reads the files named by "file" statements; without one they are refused.
    FileReader ReadFile;
};

Scenario ParseScenario(std::string_view text, const ParseOptions& options = {});

}  // namespace emu::scenario
