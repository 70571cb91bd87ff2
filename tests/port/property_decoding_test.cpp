// Pure decoding of a port's properties: reply arithmetic, the conversion of
// the driver's texts, and the list of live records.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "port/port_list.h"
#include "port/property_reply_layout.h"
#include "port/wide_to_ansi.h"

namespace {

using namespace quorvel;

TEST(PropertyReplyLayout, EveryPropertyTakesItsLengthPlusASpareByte) {
    PortPropertyHeader header{};
    uint32_t size = 0;
    ASSERT_TRUE(ComputePropertyReplySize(header, &size));
    EXPECT_EQ(size, 99u);

    header.Lengths[0] = 4;
    header.Lengths[1] = 0;
    header.Lengths[2] = 6;
    uint32_t offsets[kPropertyCount];
    LocatePropertyBlobs(header, offsets);
    EXPECT_EQ(std::vector<uint32_t>(offsets, offsets + 3), (std::vector<uint32_t>{80, 0, 86}));
    header.Lengths[3] = 1;
    LocatePropertyBlobs(header, offsets);
    EXPECT_EQ(offsets[3], 93u);
    ASSERT_TRUE(ComputePropertyReplySize(header, &size));
    EXPECT_EQ(size, 99u + 4 + 6 + 1);
}

TEST(PropertyReplyLayout, LengthsThatWrapOrExceedTheLimitAreRefused) {
    PortPropertyHeader header{};
    uint32_t size = 12345;
    // 32-bit arithmetic would wrap this sum to a small size.
    header.Lengths[0] = 0xFFFFFFF0u;
    header.Lengths[1] = 0x20u;
    EXPECT_FALSE(ComputePropertyReplySize(header, &size));
    for (uint32_t& length : header.Lengths) length = 0xFFFFFFFFu;
    EXPECT_FALSE(ComputePropertyReplySize(header, &size));

    header = PortPropertyHeader{};
    header.Lengths[5] = kMaxPropertyReplySize - 99;
    ASSERT_TRUE(ComputePropertyReplySize(header, &size));
    EXPECT_EQ(size, kMaxPropertyReplySize);
    header.Lengths[5] += 1;
    EXPECT_FALSE(ComputePropertyReplySize(header, &size));
    EXPECT_EQ(size, kMaxPropertyReplySize) << "a refused size is not written";
}

TEST(PropertyReplyLayout, NumbersAreReadLittleEndianAtAnyOffset) {
    const uint8_t bytes[] = {0xAA, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(ReadUnalignedU32(bytes + 1), 0x12345678u);
}

// A UTF-16LE blob placed at an odd address, as blobs of the reply may be.
struct OddBlob {
    explicit OddBlob(const std::wstring& text, bool terminated = true) {
        bytes[0] = 0x5A;
        size_t n = 1;
        for (wchar_t c : text) {
            bytes[n++] = static_cast<uint8_t>(c);
            bytes[n++] = static_cast<uint8_t>(c >> 8);
        }
        if (terminated) {
            bytes[n++] = 0;
            bytes[n++] = 0;
        }
        length = static_cast<uint32_t>(n - 1);
        std::memset(bytes + n, 'X', sizeof bytes - n);  // what lies behind the blob
    }
    const uint8_t* data() const { return bytes + 1; }
    uint8_t bytes[64];
    uint32_t length;
};

// What WideToAnsi writes into a field that holds no text yet; nullopt when
// the field stays empty.
std::optional<std::string> Converted(const uint8_t* data, uint32_t length) {
    char* text = nullptr;
    WideToAnsi(text, data, length);
    if (!text) return std::nullopt;
    std::string converted = text;
    delete[] text;
    return converted;
}

TEST(WideToAnsi, ConvertsUpToTheFirstZeroOnly) {
    OddBlob list(std::wstring(L"SERENUM\\QVL5601\0QVL5601", 23));
    EXPECT_EQ(Converted(list.data(), list.length), "SERENUM\\QVL5601");
}

TEST(WideToAnsi, AnUnterminatedTextStopsAtItsBlob) {
    OddBlob blob(L"ABC", false);
    EXPECT_EQ(Converted(blob.data(), blob.length), "ABC");
    EXPECT_EQ(Converted(blob.data(), 5), "AB") << "an odd length ends with a half character";
}

TEST(WideToAnsi, AllOrNothing) {
    OddBlob foreign(L"Modem \x041C");
    EXPECT_EQ(Converted(foreign.data(), foreign.length), std::nullopt)
        << "a character outside code page 1252 drops the whole text";
    OddBlob western(L"Modem \x00E9\x00FC");  // é and ü exist in code page 1252
    EXPECT_EQ(Converted(western.data(), western.length), "Modem \xE9\xFC");
    EXPECT_EQ(Converted(nullptr, 10), std::nullopt);

    char* text = nullptr;
    WideToAnsi(text, western.data(), western.length);
    char* kept = text;
    OddBlob other(L"other");
    WideToAnsi(text, other.data(), other.length);
    EXPECT_EQ(text, kept) << "a field that holds a text is left alone";
    delete[] text;
}

class PortListTest : public testing::Test {
protected:
    // The list starts as it ends: empty.
    void SetUp() override { TearDown(); }
    void TearDown() override {
        PortList = nullptr;
        PortCount = 0;
    }
    // The list walked from the head, checked for consistent back links.
    std::string Walk() {
        std::string order;
        PortMonitor* previous = nullptr;
        for (PortMonitor* p = PortList; p; p = p->Next) {
            EXPECT_EQ(p->Previous, previous);
            order += static_cast<char>('A' + (p - ports_));
            previous = p;
        }
        return order;
    }
    PortMonitor ports_[4] = {PortMonitor(INVALID_HANDLE_VALUE), PortMonitor(INVALID_HANDLE_VALUE),
                             PortMonitor(INVALID_HANDLE_VALUE), PortMonitor(INVALID_HANDLE_VALUE)};
};

TEST_F(PortListTest, NewestIsTheHeadAndUnlinkKeepsTheListConsistent) {
    LinkPortMonitor(ports_[0]);
    EXPECT_EQ(Walk(), "A");
    UnlinkPortMonitor(ports_[0]);  // the only record
    EXPECT_EQ(PortList, nullptr);
    EXPECT_EQ(PortCount, 0u);

    for (PortMonitor& p : ports_) LinkPortMonitor(p);
    EXPECT_EQ(Walk(), "DCBA");
    EXPECT_EQ(PortCount, 4u);
    UnlinkPortMonitor(ports_[2]);  // a middle record
    EXPECT_EQ(Walk(), "DBA");
    UnlinkPortMonitor(ports_[3]);  // the head
    EXPECT_EQ(Walk(), "BA");
    UnlinkPortMonitor(ports_[0]);  // the tail
    EXPECT_EQ(Walk(), "B");
    EXPECT_EQ(PortCount, 1u);
    LinkPortMonitor(ports_[3]);
    EXPECT_EQ(Walk(), "DB");
    EXPECT_EQ(PortCount, 2u);
}

}  // namespace
