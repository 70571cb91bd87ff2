// Reads a scenario file named by the settings text: a text file on disk of at
// most 64 KiB. Devices, pipes and consoles are refused, so that reading can
// never block.
#pragma once

#include <string>

namespace emu::scenario {

bool ReadScenarioFile(const std::string& path, std::string* contents, std::string* error);

}  // namespace emu::scenario
