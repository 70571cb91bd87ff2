#include "driver/driver_config_record.h"

#include <cstring>

namespace quorvel {

void WriteDriverConfig(DriverConfigRecord& record, const char* settingsText) {
    record.Length = kDriverConfigLength;
    record.SettingsPresent = settingsText ? 20 : 4;
    record.ConfigFlag = 1;
    if (!settingsText) return;
    size_t length = strnlen(settingsText, kSettingsTextMaxLength);
    std::memcpy(record.SettingsText, settingsText, length);
    record.SettingsText[length] = '\0';
}

uint32_t ReplyOptions(const DriverConfigRecord& record) {
    DriverInfoReply reply;
    std::memcpy(&reply, &record, sizeof(reply));
    return reply.Options;
}

}  // namespace quorvel
