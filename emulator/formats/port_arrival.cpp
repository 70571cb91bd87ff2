#include "emulator/formats/port_arrival.h"

namespace tapfeed {
namespace {

// The keys and where their values go, in the order the text lists them.
struct Key {
    const char* Name;
    std::string PortArrival::*Value;
};

constexpr Key kKeys[] = {
    {"name", &PortArrival::Name},
    {"friendly", &PortArrival::Friendly},
    {"description", &PortArrival::Description},
    {"manufacturer", &PortArrival::Manufacturer},
    {"hardware", &PortArrival::Hardware},
    {"location", &PortArrival::Location},
    {"driver", &PortArrival::Driver},
    {"serial", &PortArrival::Serial},
    {"bus", &PortArrival::Bus},
};

// The value as a property holds it: zero bytes would end its text early.
std::string Cleaned(std::string_view value) {
    std::string text(value);
    for (char& c : text) {
        if (c == '\0') c = ' ';
    }
    return text;
}

void ReadLine(std::string_view line, PortArrival* arrival) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    std::string_view key = line.substr(0, equals);
    for (const Key& known : kKeys) {
        if (key == known.Name) arrival->*known.Value = Cleaned(line.substr(equals + 1));
    }
}

}  // namespace

bool ReadPortArrival(std::string_view text, PortArrival* arrival, std::string* problem) {
    *arrival = PortArrival{};
    while (!text.empty()) {
        size_t end = text.find('\n');
        ReadLine(text.substr(0, end), arrival);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    if (arrival->Name.empty()) {
        *problem = "a port arrived without its name";
        return false;
    }
    return true;
}

std::string PortArrivalText(const PortArrival& arrival) {
    std::string text;
    for (const Key& key : kKeys) {
        std::string value = arrival.*key.Value;
        if (value.empty()) continue;
        for (char& c : value) {
            if (c == '\n' || c == '\r') c = ' ';
        }
        text += std::string(key.Name) + "=" + value + "\n";
    }
    return text;
}

}  // namespace tapfeed
