// Turns the driver's information reply into the configuration record, in
// the very buffer that received it.
#pragma once

#include <cstdint>

#include "wire/device_records.h"

namespace quorvel {

// The longest settings text the record carries; a longer one is cut to its
// first kSettingsTextCapacity - 1 characters.
constexpr uint32_t kSettingsTextMaxLength = kSettingsTextCapacity - 1;

// Writes the configuration fields into record, which holds the information
// reply in its first 20 bytes and zeros behind them: the length, the settings
// marker (20 with a text, 4 without), the flag at offset 10 and, when a text
// is given, the text and its terminator from offset 16. Every other byte
// keeps its value.
void WriteDriverConfig(DriverConfigRecord& record, const char* settingsText);

// The options field of the information reply at the start of record.
uint32_t ReplyOptions(const DriverConfigRecord& record);

}  // namespace quorvel
