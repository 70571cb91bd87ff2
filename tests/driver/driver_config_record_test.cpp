// Building the configuration record in the buffer of the information reply:
// only the configuration's own fields are written, and a long settings text
// never reaches beyond the record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/driver_config_record.h"

namespace {

using namespace quorvel;

#pragma pack(push, 1)
struct GuardedRecord {
    DriverConfigRecord Record;
    uint8_t Guard[16];
};
#pragma pack(pop)

class DriverConfigRecordTest : public testing::Test {
protected:
    void SetUp() override { std::memset(&buffer_, 0xEE, sizeof(buffer_)); }

    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(&buffer_); }

    GuardedRecord buffer_;
};

TEST_F(DriverConfigRecordTest, OnlyTheConfigurationFieldsAreWritten) {
    WriteDriverConfig(buffer_.Record, "abc");
    const uint8_t* bytes = Bytes();
    const char written[] = "\x08\x02\0\0\x14\0\0\0"            // the length 520, the settings marker 20
                           "\xEE\xEE\x01\xEE\xEE\xEE\xEE\xEE"  // byte 10 set, the others left as they were
                           "abc";                              // the text and its terminator
    EXPECT_EQ(std::string(bytes, bytes + 20), std::string(written, 20));
    for (int i = 20; i < 536; ++i) ASSERT_EQ(bytes[i], 0xEE) << "byte " << i;

    std::memset(&buffer_, 0xEE, sizeof(buffer_));
    WriteDriverConfig(buffer_.Record, nullptr);
    EXPECT_EQ(std::memcmp(bytes + 4, "\x04\x00\x00\x00", 4), 0);
    for (int i = 16; i < 536; ++i) ASSERT_EQ(bytes[i], 0xEE) << "byte " << i;
}

TEST_F(DriverConfigRecordTest, TheTextStopsAtTheRecordsEnd) {
    for (size_t length : {502u, 503u, 504u, 2000u}) {
        SCOPED_TRACE(length);
        std::memset(&buffer_, 0xEE, sizeof(buffer_));
        std::string text(length, 'q');
        WriteDriverConfig(buffer_.Record, text.c_str());
        size_t kept = length < 503 ? length : 503;
        EXPECT_EQ(strnlen(buffer_.Record.SettingsText, 504), kept);
        for (uint8_t guard : buffer_.Guard) ASSERT_EQ(guard, 0xEE);
    }
}

}  // namespace
