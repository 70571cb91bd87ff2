// What a serial line's settings are, as the tap follows them: the speed, the
// frame (data bits, parity, stop bits) and the flow control, read from the
// application's side of the line and applied to the device's. Pure code: it
// turns settings into termios records and text, and touches no descriptor.
//
// A pty keeps no data bits or parity (the kernel clears them whenever its
// settings change), so those stay as the command line gave them; the speed,
// the stop bits and the flow control follow the application.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tap {

struct LineFormat {
    uint8_t DataBits = 8;  // 5 to 8
    char Parity = 'N';     // N, O, E, M or S
    uint8_t StopBits = 1;  // 1 or 2
    bool operator==(const LineFormat&) const = default;
};

struct LineSettings {
    uint32_t Baud = 115200;  // 0: hang up (B0), the device drops DTR and RTS and keeps its speed
    LineFormat Format;
    bool RtsCts = false;   // hardware flow control
    bool XonXoff = false;  // software flow control, both ways
    bool operator==(const LineSettings&) const = default;
};

// "8N1", "7E2" ... (parity letters in either case); false for anything else.
bool ParseFormat(std::string_view text, LineFormat* format);

// Whether the kernel has a speed constant for the rate.
bool KnownBaud(uint32_t baud);

// "[9600 8N1 RTS/CTS]": what the pane shows when settings take effect
// ("[0 baud: hang-up]" for B0).
std::string DescribeSettings(const LineSettings& settings);

// Whether the application's settings ask the kernel to process its input:
// canonical lines, echo, signals, CR and LF translation, stripping, software
// flow control, marked errors. A pty does that only while EXTPROC is off.
bool NeedsInputProcessing(const termios& record);

// The settings of the application's side as its termios record gives them:
// its speed (0 for B0, a hang-up), stop bits and flow control, with the
// frame's data bits and parity taken from format. A speed the kernel cannot
// name keeps fallback's.
LineSettings SettingsFromTermios(const termios& record, const LineFormat& format, uint32_t fallbackBaud);

// Makes record the device's raw settings: every byte passes unchanged, with
// the line's speed, frame and flow control, and breaks and framing and
// parity errors marked in the input (PARMRK: FF 00 x; a real FF is FF FF).
// B0 is given as B0: the device's driver then drops DTR and RTS, and
// raises them again with the next speed. False when the speed has no
// constant.
bool DeviceTermios(const LineSettings& settings, termios* record);

// Whether the device took the settings: the record read back from it has
// the speed, stop bits and flow control that were asked for, and the data
// bits and parity too unless the device is a pty (which keeps none).
bool DeviceTook(const LineSettings& settings, const termios& readBack, bool devicePty);

}  // namespace tap
