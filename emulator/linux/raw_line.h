// A serial line or one end of a pty opened as the Linux-side programs use
// it: read and write, never as the controlling terminal, non-blocking, and
// raw (no echo, no line editing, no translation of bytes).
#pragma once

#include <fcntl.h>
#include <termios.h>

// The descriptor, or -1 with errno set. A path that is no terminal stays
// open as it is.
inline int OpenRawLine(const char* path) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios settings;
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
    return fd;
}
