// Every call by which the relay touches the world, in one table: its reads,
// writes and polls, the device's and the application side's settings, the
// modem lines, the error counts and the clock. KernelLineOps() makes the
// real calls; the tests put a table of failures in their place, so that the
// relay's every failure path runs without a pty.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>

#include "tap/line_settings.h"

namespace tap {

// What a device counts of its line (TIOCGICOUNT).
struct ErrorCounts {
    uint64_t Frame = 0;
    uint64_t Parity = 0;
    uint64_t Overrun = 0;  // the device's and its buffer's
    uint64_t Break = 0;
};

struct LineOps {
    ssize_t (*Read)(int fd, void* buffer, size_t size);
    ssize_t (*Write)(int fd, const void* bytes, size_t size);
    int (*Poll)(pollfd* fds, nfds_t count, int timeoutMs);
    // The device opened raw, non-blocking and never as the controlling
    // terminal (read-only for a sniffer), or -1 with errno.
    int (*OpenDevice)(const char* path, bool readOnly);
    void (*Close)(int fd);
    // Applies the settings to the device and reads them back; false when
    // the device refused them or kept others.
    bool (*ApplySettings)(int fd, const LineSettings& settings);
    // The application side's settings, read on the pty's master.
    bool (*ApplicationTermios)(int master, termios* record);
    // Sets EXTPROC in the application side's local flags again, so that its
    // next change is reported too.
    void (*KeepExtproc)(int master);
    // Bytes the application has written that the relay has not read yet.
    size_t (*Unread)(int master);
    // Drops what the application side holds unread (it would reach whatever
    // program opens it next); how many bytes that was.
    size_t (*FlushApplication)(int master);
    // Whether a program has the application side open.
    bool (*ApplicationOpen)(int master);
    // Bytes the device holds and has not sent yet.
    size_t (*Unsent)(int fd);
    // The device's modem lines (TIOCM_* bits); false when it has none.
    bool (*ModemLines)(int fd, int* bits);
    // The device's error counts; false when it keeps none.
    bool (*Counts)(int fd, ErrorCounts* counts);
    // CLOCK_MONOTONIC in microseconds.
    uint64_t (*NowMicroseconds)();
};

const LineOps& KernelLineOps();

// Whether the descriptor is the slave side of a pty (which keeps no data
// bits or parity, and has no modem lines).
bool IsPtySlave(int fd);

}  // namespace tap
