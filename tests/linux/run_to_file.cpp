// Runs a Linux program for a Windows test under Wine. Wine starts a Linux
// program with its arguments, but gives no handle to wait on and passes no
// pipe to it; this gives the test files instead: the program's standard
// output and error go to OUT, its process id to OUT.pid as soon as it runs,
// and once it has ended its status to OUT.done ("exit N" or "signal N"),
// written whole (by a rename) so that a reader never sees half of it.
//   usage: run_to_file OUT PROGRAM [ARGUMENTS...]   (PROGRAM found on PATH)
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// Writes text into path whole: into a file beside it, then renamed.
bool WriteWhole(const std::string& path, const std::string& text) {
    std::string part = path + ".part";
    FILE* file = std::fopen(part.c_str(), "w");
    if (!file) return false;
    bool written = std::fputs(text.c_str(), file) >= 0;
    return std::fclose(file) == 0 && written && std::rename(part.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: run_to_file OUT PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::string out = argv[1];
    int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (output < 0) {
        std::perror(out.c_str());
        return 2;
    }
    // A test ends the program, not this: a TERM for it comes by its own id.
    signal(SIGHUP, SIG_IGN);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGHUP, SIG_DFL);
        // The benchmark runs its Wine side below the line, as quorvel-tap
        // runs its monitor; the programs of the line run at the ordinary
        // priority where that is allowed (root), else at the caller's.
        setpriority(PRIO_PROCESS, 0, 0);
        int input = open("/dev/null", O_RDONLY);
        if (input < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(output, 2) < 0) _exit(126);
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    if (child < 0 || !WriteWhole(out + ".pid", std::to_string(child) + "\n")) return 2;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return 2;
    }
    std::string ended = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                            : "exit " + std::to_string(WEXITSTATUS(status));
    return WriteWhole(out + ".done", ended + "\n") ? 0 : 2;
}
