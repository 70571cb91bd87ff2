// What the watch and the stand-in make of bytes they did not choose: an
// ioctl's request, result and argument as the kernel side copied them from
// any program (the pane's event line), and a watch's arrival record as the
// feed carries it (the port's properties, turned from UTF-8 into UTF-16).
// Each event line is one line of bounded length; each property text is
// well-formed UTF-16 (no surrogate without its pair) and no longer than its
// bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "emulator/formats/port_arrival.h"
#include "emulator/formats/utf8_text.h"
#include "fuzz_check.h"
#include "watch/call_text.h"

namespace {

void CheckUtf16(std::string_view utf8) {
    std::u16string text = tapfeed::Utf16FromUtf8(utf8);
    FUZZ_CHECK(text.size() <= utf8.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00) {
            FUZZ_CHECK(i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000);
            ++i;
        } else {
            FUZZ_CHECK(unit < 0xDC00 || unit >= 0xE000);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (size >= 12) {
        uint32_t request = 0;
        int64_t result = 0;
        std::memcpy(&request, data, 4);
        std::memcpy(&result, data + 4, 8);
        std::string line = watch::IoctlText(request, result, bytes.substr(12));
        FUZZ_CHECK(line.find('\n') == std::string::npos && line.size() < 200);
        line = watch::FailureText(request & 1, result);
        FUZZ_CHECK(line.find('\n') == std::string::npos && line.size() < 64);
    }
    tapfeed::PortArrival arrival;
    std::string problem;
    if (tapfeed::ReadPortArrival(bytes, &arrival, &problem)) {
        FUZZ_CHECK(!arrival.Name.empty());
        for (const std::string* text : {&arrival.Name, &arrival.Friendly, &arrival.Description, &arrival.Manufacturer}) {
            FUZZ_CHECK(text->find('\n') == std::string::npos);
        }
    }
    CheckUtf16(bytes);
    return 0;
}
