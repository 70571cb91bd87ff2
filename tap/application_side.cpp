#include "tap/application_side.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tap {
namespace {

bool Fail(const char* step, std::string* why) {
    *why = std::string(step) + ": " + std::strerror(errno);
    return false;
}

// A new pty: its master, and the slave's path, open to its owner alone.
bool NewPty(int* master, std::string* slavePath, std::string* why) {
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail("posix_openpt", why);
    char name[128] = {};
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof(name)) != 0 ||
        chmod(name, S_IRUSR | S_IWUSR) != 0) {
        Fail("the pty", why);
        close(fd);
        return false;
    }
    *master = fd;
    *slavePath = name;
    return true;
}

}  // namespace

bool MakeApplicationSide(const LineSettings& settings, ApplicationSide* side, std::string* why) {
    if (!NewPty(&side->Master, &side->SlavePath, why)) return false;
    termios record{};
    int packet = 1;
    bool made = tcgetattr(side->Master, &record) == 0;
    if (made) {
        // The slave starts raw, at the line's speed; its frame is whatever
        // the kernel keeps of it.
        termios device{};
        DeviceTermios(settings, &device);
        cfmakeraw(&record);
        record.c_lflag |= EXTPROC;
        record.c_cflag = (record.c_cflag & ~(CSTOPB | CRTSCTS)) | (device.c_cflag & (CSTOPB | CRTSCTS));
        cfsetispeed(&record, cfgetospeed(&device));
        cfsetospeed(&record, cfgetospeed(&device));
        made = tcsetattr(side->Master, TCSANOW, &record) == 0 && ioctl(side->Master, TIOCPKT, &packet) == 0;
    }
    if (made) {
        // Opened and closed once, the slave makes the master report POLLHUP
        // for as long as no program has it open: before its first opening
        // the master would say nothing.
        int slave = open(side->SlavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        made = slave >= 0 && close(slave) == 0;
    }
    if (made) {
        side->Watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        made = side->Watch >= 0 && inotify_add_watch(side->Watch, side->SlavePath.c_str(), IN_OPEN | IN_CLOSE) >= 0;
    }
    if (!made) {
        Fail("the application's pty", why);
        CloseApplicationSide(side);
        return false;
    }
    return true;
}

void CloseApplicationSide(ApplicationSide* side) {
    if (side->Watch >= 0) close(side->Watch);
    if (side->Master >= 0) close(side->Master);
    side->Watch = side->Master = -1;
}

bool MakeModemPty(int* master, std::string* slavePath, std::string* why) {
    return NewPty(master, slavePath, why);
}

}  // namespace tap
