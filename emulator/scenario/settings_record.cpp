#include "emulator/scenario/settings_record.h"

#include <cstring>

namespace emu::scenario {
namespace {

constexpr size_t kSettingsCapacity = 503;

}  // namespace

SettingsText ReadSettingsText(const uint8_t* record, size_t size) {
    SettingsText settings;
    if (!record || size < 16) return settings;
    uint32_t presence = 0;
    std::memcpy(&presence, record + 4, 4);
    if (presence != 20) return settings;
    settings.Present = true;
    size_t room = size - 16 < kSettingsCapacity ? size - 16 : kSettingsCapacity;
    const char* text = reinterpret_cast<const char*>(record + 16);
    size_t length = strnlen(text, room);
    settings.Text.assign(text, length);
    settings.FillsField = length == kSettingsCapacity || length == size - 16;
    return settings;
}

}  // namespace emu::scenario
