// The program's command line and the configuration record it becomes: the
// options found anywhere in it, and the settings text behind "/s=" copied into
// the record and read back as the stand-in reads it.
#include <cstdint>
#include <cstring>
#include <string>

#include "app/options.h"
#include "driver/driver_config_record.h"
#include "emulator/scenario/settings_record.h"
#include "fuzz_check.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string commandLine(reinterpret_cast<const char*>(data), size);
    Options options = ParseOptions(commandLine.c_str());
    if (options.SettingsText) {
        FUZZ_CHECK(options.SettingsText >= commandLine.c_str() &&
                   options.SettingsText <= commandLine.c_str() + commandLine.size());
    }
    DriverConfigRecord record{};
    std::memcpy(&record, data, std::min(size, sizeof(DriverInfoReply)));
    WriteDriverConfig(record, options.SettingsText);
    FUZZ_CHECK(record.Length == kDriverConfigLength);
    emu::scenario::SettingsText settings =
        emu::scenario::ReadSettingsText(reinterpret_cast<const uint8_t*>(&record), sizeof(record));
    FUZZ_CHECK(settings.Present == (options.SettingsText != nullptr));
    if (options.SettingsText) {
        FUZZ_CHECK(settings.Text == std::string(options.SettingsText).substr(0, std::strlen(settings.Text.c_str())));
        FUZZ_CHECK(settings.Text.size() <= kSettingsTextMaxLength);
    }
    // The stand-in reads any record, also one cut short.
    (void)emu::scenario::ReadSettingsText(data, size);
    return 0;
}
