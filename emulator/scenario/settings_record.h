// Where the stand-in's settings text stands in the configuration record
// that the program sends (IOCTL_LINE_SET_CONFIG).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace emu::scenario {

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
