// What a watched call says in the pane: the settings a program asked for
// and what the driver kept, modem lines, breaks, flushes, RS-485, a refused
// ioctl or a failed read or write with its error. Pure code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace watch {

// The settings of a kernel termios, as the ioctls pass them.
struct TermiosView {
    uint32_t Input = 0, Output = 0, Control = 0, Local = 0;
    uint32_t InputSpeed = 0, OutputSpeed = 0;  // termios2 and the kernel's own; 0 where the call had none
};

// Reads a termios (36 bytes: no speeds of its own) or a termios2 / ktermios
// (44 bytes) from the bytes an ioctl passed.
TermiosView ReadTermios(std::string_view bytes, bool withSpeeds);

// "57600 7E1 RTS/CTS": the speed (from the speed fields where the baud
// code says BOTHER), data bits, parity, stop bits and flow control.
std::string DescribeTermios(const TermiosView& settings);

// The error's name ("EIO"), or "error N".
std::string ErrorName(int64_t negativeError);

// The event line for an ioctl on a watched device with its result, or ""
// for one that the pane does not show (a successful query such as TCGETS).
// payload: the argument as the call left it, then (settings changes) what
// the driver kept, as the watch's ioctl record carries them.
std::string IoctlText(uint32_t request, int64_t result, std::string_view payload);

// The event line for a read or write that failed, or "" for an error that
// only says "try again" (EAGAIN, an interrupted call that is restarted).
std::string FailureText(bool write, int64_t result);

}  // namespace watch
