// The stand-in's simulated Hayes modem as a small Linux program on a tty
// (one end of a pty pair): what a program writes to the other end reaches
// the modem, and the modem's answers come back, with its timers (dialling,
// the guard time of "+++") running on the real clock. It lets a new user
// try the monitor's tap without hardware.
//
//   quorvel-pty-modem PATH | --fd N
// PATH is a tty that it opens; with --fd it takes the descriptor N that it
// was given open (quorvel-tap hands it a pty's master). Runs until it is
// ended (SIGINT, SIGTERM) or the tty hangs up.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulator/lines/hayes_modem.h"
#include "emulator/linux/raw_line.h"

namespace {

volatile sig_atomic_t stopping = 0;

void Stop(int) { stopping = 1; }

double NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
        } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd out{fd, POLLOUT, 0};
            poll(&out, 1, 100);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool given = argc == 3 && std::strcmp(argv[1], "--fd") == 0;
    if (argc != 2 && !given) {
        std::fprintf(stderr, "usage: quorvel-pty-modem PATH | --fd N\n");
        return 2;
    }
    int fd = given ? std::atoi(argv[2]) : OpenRawLine(argv[argc - 1]);
    if (fd < 0 || (given && fcntl(fd, F_SETFL, O_NONBLOCK | O_RDWR) != 0)) {
        std::fprintf(stderr, "quorvel-pty-modem: %s: %s\n", argv[argc - 1], std::strerror(errno));
        return 2;
    }
    signal(SIGINT, Stop);
    signal(SIGTERM, Stop);
    emu::HayesModem modem;
    while (!stopping) {
        double dueMs = 0;
        int waitMs = 1000;
        if (modem.NextDueMs(&dueMs)) {
            double left = dueMs - NowMs();
            waitMs = left <= 0 ? 0 : left > 1000 ? 1000 : static_cast<int>(left) + 1;
        }
        pollfd in{fd, POLLIN, 0};
        if (poll(&in, 1, waitMs) < 0 && errno != EINTR) break;
        std::string reply;
        if (in.revents & POLLIN) {
            char buffer[4096];
            ssize_t count = read(fd, buffer, sizeof(buffer));
            if (count > 0) modem.Receive(std::string(buffer, static_cast<size_t>(count)), NowMs(), &reply);
        } else if (in.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            break;
        }
        modem.Advance(NowMs(), &reply);
        if (!reply.empty() && !WriteAll(fd, reply)) break;
    }
    close(fd);
    return 0;
}
