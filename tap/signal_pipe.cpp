#include "tap/signal_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace tap {
namespace {

int g_signalPipe[2] = {-1, -1};  // written by the signal handler, read by the program's loop

void OnSignal(int number) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(number);
    if (write(g_signalPipe[1], &byte, 1) < 0) {
        // A full pipe already says that something is waiting.
    }
    errno = saved;
}

}  // namespace

bool CatchSignals() {
    if (pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaction(number, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

int SignalPipe() { return g_signalPipe[0]; }

int TakeEndingSignal() {
    unsigned char number = 0;
    int ending = 0;
    while (read(g_signalPipe[0], &number, 1) == 1) {
        if ((number == SIGINT || number == SIGTERM || number == SIGHUP) && !ending) ending = 128 + number;
    }
    return ending;
}

}  // namespace tap
