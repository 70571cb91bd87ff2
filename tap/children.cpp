#include "tap/children.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace tap {

pid_t StartChild(const std::string& program, const std::vector<std::string>& arguments, int keep, int niceness) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t child = fork();
    if (child != 0) return child;
    // A tap that is killed takes its children with it: they get TERM, and
    // the monitor's script ends the monitor and its display on it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    if (keep >= 0) dup2(keep, 3);  // without close-on-exec, as dup2 leaves it
    // Refused, it leaves the child at the tap's own priority.
    if (niceness != 0 && nice(niceness) == -1) errno = 0;
    execv(program.c_str(), argv.data());
    _exit(127);
}

void EndChild(pid_t child, int waitMs) {
    if (child <= 0) return;
    if (waitpid(child, nullptr, WNOHANG) == child) {
        kill(-child, SIGKILL);  // whatever of its group is left
        return;
    }
    kill(child, SIGTERM);  // it ends its own (a screenshot may come first)
    for (int waited = 0; waited < waitMs; waited += 20) {
        if (waitpid(child, nullptr, WNOHANG) == child) {
            kill(-child, SIGKILL);  // whatever of its group is left
            return;
        }
        timespec pause{0, 20 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    kill(-child, SIGKILL);
    waitpid(child, nullptr, 0);
}

bool Reaped(pid_t* child) {
    if (*child <= 0 || waitpid(*child, nullptr, WNOHANG) != *child) return false;
    *child = -1;
    return true;
}

std::string MonitorScenario(const std::string& portName, const std::string& windowsFolder,
                            const std::string& friendlyName) {
    std::string escaped;
    for (char c : friendlyName) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '/') escaped += "\\x2F";
        else if (c == ';') escaped += "\\;";
        else if (c == '"') escaped += "\\\"";
        else escaped += c;
    }
    return "tap " + portName + " " + windowsFolder + " =" + WithControlsEscaped(escaped);
}

std::string WithControlsEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        char escape[8];
        std::snprintf(escape, sizeof(escape), "\\x%02X", byte);
        escaped += byte < 0x20 || byte == 0x7F ? std::string(escape) : std::string(1, c);
    }
    return escaped;
}

}  // namespace tap
