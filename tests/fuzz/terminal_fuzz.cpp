// The command terminal's text and the modem behind it: a typed line as it
// goes out, the response text masked and trimmed, and the simulated modem
// fed the bytes with its timers run between them.
#include <cstdint>
#include <cstring>
#include <string>

#include "emulator/lines/hayes_modem.h"
#include "fuzz_check.h"
#include "ui/terminal_text.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char line[200] = {};
    size_t typed = std::min<size_t>(size, 198);
    std::memcpy(line, data, typed);
    uint32_t length = static_cast<uint32_t>(strnlen(line, typed));
    CommandLine prepared = PrepareCommandLine(line, length);
    FUZZ_CHECK(prepared.Length <= length);

    char response[400] = {};
    std::memcpy(response, data, std::min<size_t>(size, 399));
    MaskLineBreaks(response);
    FUZZ_CHECK(!std::strchr(response, '\r') && !std::strchr(response, '\n'));
    uint32_t textLength = static_cast<uint32_t>(std::strlen(response));
    uint32_t fit = size ? data[0] : 0;
    uint32_t drop = TrimmedCharacters(textLength, fit);
    FUZZ_CHECK(drop <= textLength && (fit >= textLength ? drop == 0 : drop > 0 || fit == 0));
    DropLeadingCharacters(response, sizeof(response), drop);
    FUZZ_CHECK(std::strlen(response) == textLength - drop && response[399] == 0);

    emu::HayesModem modem;
    double now = 1000;
    std::string reply;
    for (size_t i = 0; i < size; i += 8) {
        std::string chunk(reinterpret_cast<const char*>(data) + i, std::min<size_t>(8, size - i));
        modem.Receive(chunk, now, &reply);
        now += static_cast<uint8_t>(chunk[0]) * 10.0;
        modem.Advance(now, &reply);
        if (chunk[0] == '!') modem.ConfirmEscape(&reply);
        if (reply.size() > 100000) reply.clear();
    }
    return 0;
}
