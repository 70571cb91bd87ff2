#include "tap/line_settings.h"

namespace tap {
namespace {

struct Speed {
    uint32_t Baud;
    speed_t Constant;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool ConstantOf(uint32_t baud, speed_t* constant) {
    if (baud == 0) {
        *constant = B0;
        return true;
    }
    for (const Speed& speed : kSpeeds) {
        if (speed.Baud == baud) {
            *constant = speed.Constant;
            return true;
        }
    }
    return false;
}

bool BaudOf(speed_t constant, uint32_t* baud) {
    if (constant == B0) {
        *baud = 0;
        return true;
    }
    for (const Speed& speed : kSpeeds) {
        if (speed.Constant == constant) {
            *baud = speed.Baud;
            return true;
        }
    }
    return false;
}

tcflag_t SizeFlag(uint8_t dataBits) {
    switch (dataBits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

tcflag_t ParityFlags(char parity) {
    switch (parity) {
        case 'O': return PARENB | PARODD;
        case 'E': return PARENB;
        case 'M': return PARENB | PARODD | CMSPAR;
        case 'S': return PARENB | CMSPAR;
        default: return 0;
    }
}

constexpr tcflag_t kFrameFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

}  // namespace

bool ParseFormat(std::string_view text, LineFormat* format) {
    if (text.size() != 3 || text[0] < '5' || text[0] > '8') return false;
    char parity = text[1] >= 'a' && text[1] <= 'z' ? static_cast<char>(text[1] - 'a' + 'A') : text[1];
    if (std::string_view("NOEMS").find(parity) == std::string_view::npos) return false;
    if (text[2] != '1' && text[2] != '2') return false;
    format->DataBits = static_cast<uint8_t>(text[0] - '0');
    format->Parity = parity;
    format->StopBits = static_cast<uint8_t>(text[2] - '0');
    return true;
}

bool KnownBaud(uint32_t baud) {
    speed_t constant;
    return baud != 0 && ConstantOf(baud, &constant);
}

std::string DescribeSettings(const LineSettings& settings) {
    if (settings.Baud == 0) return "[0 baud: hang-up]";
    std::string text = "[" + std::to_string(settings.Baud) + " " + std::to_string(settings.Format.DataBits) +
                       settings.Format.Parity + std::to_string(settings.Format.StopBits);
    if (settings.RtsCts) text += " RTS/CTS";
    if (settings.XonXoff) text += " XON/XOFF";
    return text + "]";
}

bool NeedsInputProcessing(const termios& record) {
    constexpr tcflag_t kInput = ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | PARMRK;
    constexpr tcflag_t kLocal = ICANON | ISIG | ECHO | ECHONL;
    return (record.c_iflag & kInput) != 0 || (record.c_lflag & kLocal) != 0;
}

LineSettings SettingsFromTermios(const termios& record, const LineFormat& format, uint32_t fallbackBaud) {
    LineSettings settings;
    if (!BaudOf(cfgetospeed(&record), &settings.Baud)) settings.Baud = fallbackBaud;
    settings.Format = format;
    settings.Format.StopBits = (record.c_cflag & CSTOPB) ? 2 : 1;
    settings.RtsCts = (record.c_cflag & CRTSCTS) != 0;
    settings.XonXoff = (record.c_iflag & (IXON | IXOFF)) != 0;
    return settings;
}

bool DeviceTermios(const LineSettings& settings, termios* record) {
    speed_t speed;
    if (!ConstantOf(settings.Baud, &speed)) return false;
    cfmakeraw(record);
    record->c_cflag &= ~kFrameFlags;
    record->c_cflag |= CLOCAL | CREAD | SizeFlag(settings.Format.DataBits) | ParityFlags(settings.Format.Parity);
    if (settings.Format.StopBits == 2) record->c_cflag |= CSTOPB;
    if (settings.RtsCts) record->c_cflag |= CRTSCTS;
    // Breaks and errors arrive marked; parity is checked only where there is one.
    record->c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | IXON | IXOFF | IXANY | INPCK);
    record->c_iflag |= PARMRK;
    if (settings.Format.Parity != 'N') record->c_iflag |= INPCK;
    if (settings.XonXoff) record->c_iflag |= IXON | IXOFF;
    record->c_cc[VMIN] = 1;
    record->c_cc[VTIME] = 0;
    cfsetispeed(record, speed);
    cfsetospeed(record, speed);
    return true;
}

bool DeviceTook(const LineSettings& settings, const termios& readBack, bool devicePty) {
    termios wanted{};
    if (!DeviceTermios(settings, &wanted)) return false;
    tcflag_t compared = devicePty ? CSTOPB | CRTSCTS : kFrameFlags;
    return cfgetospeed(&readBack) == cfgetospeed(&wanted) &&
           (readBack.c_cflag & compared) == (wanted.c_cflag & compared) &&
           (readBack.c_iflag & (IXON | IXOFF)) == (wanted.c_iflag & (IXON | IXOFF));
}

}  // namespace tap
