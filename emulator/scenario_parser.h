// The stand-in's settings text: where it comes from in the configuration
// record, and how it becomes a scenario. The syntax is described in the
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

#include "emulator/scenario.h"

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

// The settings text as the configuration record carries it: present when
// the field at offset 4 holds 20; the characters from offset 16 up to the
// first zero, at most 503 of them; FillsField when there was no room left
// (503 characters, or no terminator at all).
struct SettingsText {
    bool Present = false;
    std::string Text;
    bool FillsField = false;
};

SettingsText ReadSettingsText(const uint8_t* record, size_t size);

}  // namespace emu::scenario
