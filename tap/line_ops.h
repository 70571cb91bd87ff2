// Every call by which the relay touches the world, in one table: its reads,
// writes and polls, the device's and the application side's settings, the
// modem lines, the error counts and the clock. KernelLineOps() makes the
// real calls; the tests put a table of failures in their place, so that the
// relay's every failure path runs without a pty.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cerrno>
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

// What a settings change applied once the device had sent everything
// before it ends with: the value that its descriptor gives (8 bytes).
constexpr uint64_t kSettingsApplied = 1;
constexpr uint64_t kSettingsRefused = 2;

struct LineOps {
    ssize_t (*Read)(int fd, void* buffer, size_t size);
    ssize_t (*Write)(int fd, const void* bytes, size_t size);
    int (*Poll)(pollfd* fds, nfds_t count, int timeoutMs);
    // The device opened raw, non-blocking and never as the controlling
    // terminal (read-only for a sniffer), or -1 with errno.
    int (*OpenDevice)(const char* path, bool readOnly);
    void (*Close)(int fd);
    // Applies the settings to the device now and reads them back; false when
    // the device refused them or kept others (it keeps its old ones then).
    bool (*ApplySettings)(int fd, const LineSettings& settings);
    // Applies the settings once the device has sent everything written to it
    // (its buffers and its transmitter empty), as ApplySettings does, on a
    // thread of its own so that the relay never waits: a descriptor that
    // becomes readable with kSettingsApplied or kSettingsRefused, or -1 when
    // the wait could not start.
    int (*ApplyWhenSent)(int fd, const LineSettings& settings);
    // The application side's settings, read on the pty's master.
    bool (*ApplicationTermios)(int master, termios* record);
    // Sets or clears EXTPROC in the application side's local flags: set, the
    // master reports each change of its settings and the kernel leaves its
    // input alone; clear, the kernel processes its input as it asked.
    void (*SetExtproc)(int master, bool on);
    // Bytes readable on a descriptor now (the application's on the master,
    // the device's on the device).
    size_t (*Unread)(int fd);
    // Drops what the application side holds unread (it would reach whatever
    // program opens it next); how many bytes that was.
    size_t (*FlushApplication)(int master);
    // Whether a program has the application side open.
    bool (*ApplicationOpen)(int master);
    // Bytes the device holds and has not sent yet.
    size_t (*Unsent)(int fd);
    // Drops what the device holds and has not sent yet (a remote server's
    // buffer too); nothing that has gone.
    void (*FlushDeviceOutput)(int fd);
    // Asks the far end of the device to drop what it has received and not
    // yet passed on (a remote server's buffer); a local device's input is
    // read and dropped by the relay itself, so that it is still recorded.
    void (*FlushDeviceInput)(int fd);
    // The device's modem lines (TIOCM_* bits); false when it has none.
    bool (*ModemLines)(int fd, int* bits);
    // The device's error counts; false when it keeps none.
    bool (*Counts)(int fd, ErrorCounts* counts);
    // Opens the command FIFO's reading end afresh in place of fd, once its
    // writer has gone: the old end would report the hang-up for ever.
    bool (*ReopenReader)(int fd);
    // CLOCK_MONOTONIC in microseconds.
    uint64_t (*NowMicroseconds)();
};

const LineOps& KernelLineOps();

// Whether a call that failed with this error only has to be made again later.
inline bool CallWaits(int error) { return error == EAGAIN || error == EINTR; }

// Whether the descriptor is the slave side of a pty (which keeps no data
// bits or parity, and has no modem lines).
bool IsPtySlave(int fd);

}  // namespace tap
