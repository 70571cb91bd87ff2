#include "emulator/formats/serial_capture.h"

#include <cstring>

namespace serialcapture {
namespace {

constexpr struct {
    uint8_t Bit;
    const char* Name;
} kShownLines[] = {{kCts, "CTS"}, {kDsr, "DSR"}, {kDcd, "DCD"}, {kRing, "RI"}};

void PutBig(uint8_t* to, uint32_t value) {
    for (int i = 0; i < 4; ++i) to[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t Swapped(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

// Where a fault stands: "in packet N (byte B)".
std::string Where(size_t packet, size_t offset) {
    return "in packet " + std::to_string(packet) + " (byte " + std::to_string(offset) + ")";
}

}  // namespace

std::string SerialHeaderBytes(uint64_t unixMicroseconds, uint8_t event, uint8_t lines) {
    SerialHeader header{};
    PutBig(header.Seconds, static_cast<uint32_t>(unixMicroseconds / 1000000));
    PutBig(header.Microseconds, static_cast<uint32_t>(unixMicroseconds % 1000000));
    header.Event = event;
    header.Lines = lines;
    return std::string(reinterpret_cast<const char*>(&header), sizeof(header));
}

std::string EventText(uint8_t event, uint8_t lines, uint8_t before, bool beforeKnown) {
    switch (event) {
        case kBreak: return "[break]";
        case kFramingError: return "[framing error]";
        case kParityError: return "[parity error]";
        case kOverflow: return "[overrun]";
        case kDataLost: return "[capture data lost]";
        case kStatusChange: break;
        default: return "";
    }
    std::string text;
    for (const auto& line : kShownLines) {
        if (!beforeKnown) {
            if (lines & line.Bit) text += std::string(text.empty() ? "" : " ") + line.Name;
        } else if ((lines ^ before) & line.Bit) {
            text += std::string(text.empty() ? "[" : "][") + line.Name + ((lines & line.Bit) ? " on" : " off");
        }
    }
    if (!beforeKnown) return "[lines on: " + (text.empty() ? std::string("none") : text) + "]";
    return text.empty() ? "" : text + "]";
}

CaptureFile ReadCapture(const uint8_t* bytes, size_t size) {
    CaptureFile file;
    FileHeader header;
    if (size < sizeof(header)) {
        file.Problem = size == 0 ? "the file is empty" : "the file is cut short in its header";
        return file;
    }
    std::memcpy(&header, bytes, sizeof(header));
    bool swapped = header.Magic == Swapped(kMagicMicro) || header.Magic == Swapped(kMagicNano);
    uint32_t magic = swapped ? Swapped(header.Magic) : header.Magic;
    if (magic != kMagicMicro && magic != kMagicNano) {
        file.Problem = "not a pcap file (its first bytes are no pcap magic)";
        return file;
    }
    uint32_t linkType = swapped ? Swapped(header.LinkType) : header.LinkType;
    if (linkType != kLinkType) {
        file.Problem = "link type " + std::to_string(linkType) + ", not 250 (serial lines)";
        return file;
    }
    size_t at = sizeof(header);
    for (size_t number = 1; at < size; ++number) {
        PacketHeader packet;
        if (size - at < sizeof(packet)) {
            file.Problem = "cut short " + Where(number, at) + ": its header";
            return file;
        }
        std::memcpy(&packet, bytes + at, sizeof(packet));
        uint32_t length = swapped ? Swapped(packet.CapturedLength) : packet.CapturedLength;
        if (size - at - sizeof(packet) < length) {
            file.Problem = "cut short " + Where(number, at) + ": " + std::to_string(length) + " bytes announced";
            return file;
        }
        if (length < sizeof(SerialHeader)) {
            file.Problem = "a packet too short for its serial header " + Where(number, at);
            return file;
        }
        const uint8_t* data = bytes + at + sizeof(packet);
        uint32_t seconds = swapped ? Swapped(packet.Seconds) : packet.Seconds;
        uint32_t fraction = swapped ? Swapped(packet.Fraction) : packet.Fraction;
        CapturedPacket captured;
        captured.Microseconds = uint64_t{seconds} * 1000000 + (magic == kMagicNano ? fraction / 1000 : fraction);
        captured.Event = data[offsetof(SerialHeader, Event)];
        captured.Lines = data[offsetof(SerialHeader, Lines)];
        captured.Payload.assign(reinterpret_cast<const char*>(data) + sizeof(SerialHeader), length - sizeof(SerialHeader));
        file.Packets.push_back(std::move(captured));
        at += sizeof(packet) + length;
    }
    return file;
}

}  // namespace serialcapture
