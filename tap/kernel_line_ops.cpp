// The relay's table of calls, made to the kernel.
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tap/line_ops.h"

namespace tap {
namespace {

ssize_t ReadCall(int fd, void* buffer, size_t size) { return read(fd, buffer, size); }
ssize_t WriteCall(int fd, const void* bytes, size_t size) { return write(fd, bytes, size); }
int PollCall(pollfd* fds, nfds_t count, int timeoutMs) { return poll(fds, count, timeoutMs); }

// The device is the tap's alone: one in exclusive mode or locked by another
// program is refused with EBUSY (TIOCEXCL does not stop root, the lock and
// the check do); otherwise the tap takes the lock and exclusive mode, so
// that a second tap or a terminal program cannot change the line's
// settings or split its bytes.
int OpenDeviceCall(const char* path, bool readOnly) {
    int fd = open(path, (readOnly ? O_RDONLY : O_RDWR) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    int exclusive = 0;
    int error = !isatty(fd)                                           ? ENOTTY
                : ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive ? EBUSY
                : flock(fd, LOCK_EX | LOCK_NB) != 0                   ? EBUSY
                                                                      : 0;
    if (error) {
        close(fd);
        errno = error;
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

// Clears exclusive mode before the close (the device keeps it while anyone
// else has it open, a pty's master for one); ENOTTY for a descriptor that is
// no terminal changes nothing.
void CloseCall(int fd) {
    if (fd < 0) return;
    ioctl(fd, TIOCNXCL);
    close(fd);
}

// Applies the settings with `when` (TCSANOW or TCSADRAIN) and reads them
// back; a device that kept others gets its old ones again.
bool ApplyWith(int fd, int when, const LineSettings& settings) {
    termios old{}, record{};
    if (tcgetattr(fd, &old) != 0) return false;
    record = old;
    if (!DeviceTermios(settings, &record)) return false;
    if (tcsetattr(fd, when, &record) != 0) return false;
    termios readBack{};
    if (tcgetattr(fd, &readBack) == 0 && DeviceTook(settings, readBack, IsPtySlave(fd))) return true;
    tcsetattr(fd, TCSANOW, &old);
    return false;
}

bool ApplySettingsCall(int fd, const LineSettings& settings) { return ApplyWith(fd, TCSANOW, settings); }

// One settings change that waits for the device to send what it holds: the
// thread owns copies of the device's and the outcome's descriptors, so the
// relay may close its own at any time (a device that hangs up ends the wait).
struct SentWait {
    int Device;
    int Outcome;
    LineSettings Settings;
};

void* ApplyWhenSentThread(void* argument) {
    auto* wait = static_cast<SentWait*>(argument);
    uint64_t outcome = ApplyWith(wait->Device, TCSADRAIN, wait->Settings) ? kSettingsApplied : kSettingsRefused;
    if (write(wait->Outcome, &outcome, sizeof(outcome)) < 0) {
        // The relay closed its end: nobody waits for the outcome any more.
    }
    close(wait->Outcome);
    close(wait->Device);
    delete wait;
    return nullptr;
}

int ApplyWhenSentCall(int fd, const LineSettings& settings) {
    int outcome = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (outcome < 0) return -1;
    auto* wait = new SentWait{fcntl(fd, F_DUPFD_CLOEXEC, 0), fcntl(outcome, F_DUPFD_CLOEXEC, 0), settings};
    pthread_attr_t attributes;
    pthread_t thread;
    bool started = wait->Device >= 0 && wait->Outcome >= 0 && pthread_attr_init(&attributes) == 0;
    if (started) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        started = pthread_create(&thread, &attributes, ApplyWhenSentThread, wait) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (started) return outcome;
    for (int copy : {wait->Device, wait->Outcome, outcome}) {
        if (copy >= 0) close(copy);
    }
    delete wait;
    return -1;
}

bool ApplicationTermiosCall(int master, termios* record) { return tcgetattr(master, record) == 0; }

void SetExtprocCall(int master, bool on) {
    termios record{};
    if (tcgetattr(master, &record) != 0 || ((record.c_lflag & EXTPROC) != 0) == on) return;
    record.c_lflag = on ? record.c_lflag | EXTPROC : record.c_lflag & ~static_cast<tcflag_t>(EXTPROC);
    tcsetattr(master, TCSANOW, &record);
}

size_t UnreadCall(int fd) {
    int count = 0;
    return ioctl(fd, FIONREAD, &count) == 0 && count > 0 ? static_cast<size_t>(count) : 0;
}

// What the slave has taken in and its last program not read stays in the
// slave's input queue after it closes (measured: no flush on the master
// drops it): the slave is opened for a moment, counted and flushed. What is
// still on its way there goes with TCOFLUSH on the master.
size_t FlushApplicationCall(int master) {
    tcflush(master, TCOFLUSH);
    char slave[128] = {};
    if (ptsname_r(master, slave, sizeof(slave)) != 0) return 0;
    int fd = open(slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    int count = 0;
    if (ioctl(fd, FIONREAD, &count) != 0 || count < 0) count = 0;
    tcflush(fd, TCIFLUSH);
    close(fd);
    return static_cast<size_t>(count);
}

bool ApplicationOpenCall(int master) {
    pollfd probe{master, POLLIN, 0};
    return poll(&probe, 1, 0) >= 0 && !(probe.revents & POLLHUP);
}

size_t UnsentCall(int fd) {
    int count = 0;
    return ioctl(fd, TIOCOUTQ, &count) == 0 && count > 0 ? static_cast<size_t>(count) : 0;
}

// Only a device that holds bytes is flushed: a pty's slave holds none (they
// are in its master's input at once), and its flush would drop them there.
void FlushDeviceOutputCall(int fd) {
    if (UnsentCall(fd) > 0) tcflush(fd, TCOFLUSH);
}
void FlushDeviceInputCall(int) {}

bool ModemLinesCall(int fd, int* bits) { return ioctl(fd, TIOCMGET, bits) == 0; }

bool CountsCall(int fd, ErrorCounts* counts) {
    serial_icounter_struct icount{};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
    counts->Frame = static_cast<uint64_t>(icount.frame);
    counts->Parity = static_cast<uint64_t>(icount.parity);
    counts->Overrun = static_cast<uint64_t>(icount.overrun) + static_cast<uint64_t>(icount.buf_overrun);
    counts->Break = static_cast<uint64_t>(icount.brk);
    return true;
}

// A FIFO's reading end opened again through its descriptor's own link, so
// that no path is looked up twice, and put in the old one's place.
bool ReopenReaderCall(int fd) {
    char self[64];
    std::snprintf(self, sizeof(self), "/proc/self/fd/%d", fd);
    int fresh = open(self, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fresh < 0) return false;
    bool placed = dup3(fresh, fd, O_CLOEXEC) == fd;
    close(fresh);
    return placed;
}

uint64_t NowCall() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

}  // namespace

const LineOps& KernelLineOps() {
    static const LineOps ops = {ReadCall,          WriteCall,         PollCall,
                                OpenDeviceCall,    CloseCall,         ApplySettingsCall,
                                ApplyWhenSentCall, ApplicationTermiosCall, SetExtprocCall,
                                UnreadCall,        FlushApplicationCall,   ApplicationOpenCall,
                                UnsentCall,        FlushDeviceOutputCall,  FlushDeviceInputCall,
                                ModemLinesCall,    CountsCall,        ReopenReaderCall,
                                NowCall};
    return ops;
}

bool IsPtySlave(int fd) {
    struct stat info{};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    unsigned int group = major(info.st_rdev);
    return group >= 136 && group <= 143;  // Unix98 pty slaves
}

}  // namespace tap
