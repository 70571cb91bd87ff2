// The watch on a real pty, as root: a program that held the device before
// the watch began, a Python program that does what serial programs do
// (settings, custom speeds, plain and vector reads and writes, modem lines,
// a break, a flush, fork, dup, exec with and without close-on-exec, 50
// quick opens), stty -F, picocom, and a program whose device goes while it
// has it open. Every byte and every event is checked in order
// in the capture file; then no BPF program of the watch is left, neither
// attached nor loaded, after its TERM or its KILL.
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "emulator/formats/serial_capture.h"
#include "linux/shell_output.h"

namespace {

const std::string kWatch = QUORVEL_WATCH_PROGRAM;

using nativetest::Shell;

// Runs the program and waits for it; its exit status.
int RunProgram(const std::vector<std::string>& arguments) {
    pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The watch in the background, once it says it watches.
struct RunningWatch {
    pid_t Pid = -1;
    std::string Said;
    ~RunningWatch() {  // a test that fails on its way leaves no watch running
        if (Pid > 0 && kill(Pid, SIGKILL) == 0) waitpid(Pid, nullptr, 0);
    }
};

void StartWatch(const std::vector<std::string>& arguments, RunningWatch& watch) {
    int out[2];
    if (pipe(out) != 0) return;
    watch.Pid = fork();
    if (watch.Pid == 0) {
        dup2(out[1], 1);
        std::vector<char*> argv{const_cast<char*>(kWatch.c_str())};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char byte;
    auto said = [&] { return watch.Said.find("Watching") != std::string::npos && watch.Said.back() == '\n'; };
    while (!said() && read(out[0], &byte, 1) == 1) watch.Said += byte;
    close(out[0]);
}

// How many programs are attached to the system calls ("0\n" to "2\n"), and
// how many of the watch's are loaded at all.
std::string Attached() { return Shell("bpftool link show 2>/dev/null | grep -c \"tp 'sys_e\""); }
std::string Loaded() { return Shell("bpftool prog show 2>/dev/null | grep -c 'name on_syscall_e'"); }

// Waits until the count is `count` (the kernel frees a program a moment
// after its last descriptor, and the watch detaches a second after the
// last close); whether it came.
bool WaitFor(std::string (*count)(), const std::string& expected) {
    for (int i = 0; i < 150 && count() != expected; ++i) usleep(20000);
    return count() == expected;
}

int EndWatch(RunningWatch& watch, int signal) {
    kill(watch.Pid, signal);
    int status = 0;
    waitpid(watch.Pid, &status, 0);
    watch.Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The capture as lines: each event's text, and each run of data of one
// direction as "TX bytes" or "RX bytes".
std::vector<std::string> CaptureLines(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto capture = serialcapture::ReadCapture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(capture.Problem, "");
    std::vector<std::string> lines;
    std::string last;
    for (const auto& packet : capture.Packets) {
        bool data = packet.Event == serialcapture::kTxData || packet.Event == serialcapture::kRxData;
        std::string kind = packet.Event == serialcapture::kTxData ? "TX " : "RX ";
        if (data && last == kind) lines.back() += packet.Payload;
        else lines.push_back(data ? kind + packet.Payload : packet.Payload);
        last = data ? kind : "";
    }
    return lines;
}

// The pids in the texts as P (the walk's own program), C (any other).
std::string Plain(std::string line, const std::string& walkPid) {
    line = std::regex_replace(line, std::regex("pid " + walkPid + "\\b"), "pid P");
    return std::regex_replace(line, std::regex("pid [0-9]+"), "pid C");
}

// A program has the device open when it goes (the pty's master closes, as
// a USB adapter is pulled): its write fails with EIO (its read sees the
// end, 0 bytes, as from a hung-up line), and it closes.
void UnpluggedWhileOpen(const std::string& device, int master) {
    int toProgram[2], fromProgram[2];
    ASSERT_EQ(pipe(toProgram), 0);
    ASSERT_EQ(pipe(fromProgram), 0);
    std::string script = "import os, sys\n"
                         "fd = os.open('" + device + "', os.O_RDWR | os.O_NOCTTY)\n"
                         "print('open', flush=True); sys.stdin.readline()\n"
                         "for call in (lambda: os.read(fd, 1), lambda: os.write(fd, b'x')):\n"
                         "    try: call()\n"
                         "    except OSError: pass\n"
                         "os.close(fd)\n";
    pid_t program = fork();
    if (program == 0) {
        dup2(toProgram[0], 0);
        dup2(fromProgram[1], 1);
        execlp("python3", "python3", "-c", script.c_str(), nullptr);
        _exit(127);
    }
    close(toProgram[0]);
    close(fromProgram[1]);
    char said[8] = {};
    ASSERT_GT(read(fromProgram[0], said, sizeof(said)), 0);
    close(master);
    ASSERT_EQ(write(toProgram[1], "\n", 1), 1);
    int status = 0;
    waitpid(program, &status, 0);
    EXPECT_EQ(status, 0);
    close(toProgram[1]);
    close(fromProgram[0]);
}

// What the capture must hold, line by line: the program that held the
// device before the watch (me), the walk's program (P) and its children (C),
// the 50 quick opens, stty, picocom, and a program whose device goes.
std::vector<std::string> ExpectedLines(const std::string& device, const std::string& me) {
    std::vector<std::string> expected = {
        "[" + device + "]",
        "[" + device + ": pseudo-terminal]",
        "[opened by watch_tests (pid " + me + "), before the watch began]",
        "[closed by watch_tests (pid " + me + ")]",
        "[" + device + ": pseudo-terminal]",
        "[opened by python3 (pid P)]",
        "[9600 8N1]",
        "[asked 57600 7E1 RTS/CTS, kept 57600 8N1 RTS/CTS]",
        "[250000 8N1 RTS/CTS]",
        "TX AT\r",
        "RX OK\r\n",
        "TX ATI3\r",
        "RX Modem 3\r\n",
        "[TIOCMBIS DTR refused: ENOTTY]",
        "[break]",
        "[input and output flushed]",
        "[inherited by python3 (pid C)]",
        "TX child",
        "[closed by python3 (pid C) at its exit]",
        "TX dup",
        "[inherited by python3 (pid C)]",
        "TX exec",
        "[closed by python3 (pid C) at its exit]",
        "[inherited by python3 (pid C)]",
        "[closed by true (pid C) on exec]",
        "[closed by python3 (pid P)]",
    };
    for (int n = 0; n < 50; ++n) {
        char bytes[8];
        std::snprintf(bytes, sizeof(bytes), "%02d", n);
        expected.insert(expected.end(), {"[" + device + ": pseudo-terminal]", "[opened by python3 (pid P)]",
                                         std::string("TX ") + bytes, "[closed by python3 (pid P)]"});
    }
    expected.insert(expected.end(), {"[" + device + ": pseudo-terminal]", "[opened by stty (pid C)]", "[19200 8N1 RTS/CTS]",
                                     "[closed by stty (pid C) at its exit]"});
    // picocom sets its speed and format, sends its init string, flushes,
    // and gives the line back as it found it.
    expected.insert(expected.end(), {"[" + device + ": pseudo-terminal]", "[opened by picocom (pid C)]",
                                     "[TIOCMGET refused: ENOTTY]", "[asked 57600 7E1, kept 57600 8N1]",
                                     "[TIOCMGET refused: ENOTTY]", "TX AT\r", "[input and output flushed]",
                                     "[57600 8N1]", "[input flushed]", "[19200 8N1 RTS/CTS]",
                                     "[closed by picocom (pid C)]"});
    expected.insert(expected.end(), {"[" + device + ": pseudo-terminal]", "[opened by python3 (pid C)]",
                                     "[write failed: EIO]", "[closed by python3 (pid C)]"});
    return expected;
}

TEST(WatchWalk, EveryByteAndEventOfRealProgramsInOrder) {
    if (geteuid() != 0) GTEST_SKIP() << "the watch needs root";
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);  // the walk gets its own copy
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string device = ptsname(master);
    int held = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // held before the watch began
    char folder[] = "/tmp/quorvel-watch-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    std::string capture = std::string(folder) + "/session.pcap";
    RunningWatch watch;
    StartWatch({"--no-monitor", "--capture", capture, device}, watch);
    ASSERT_NE(watch.Said.find("Watching 1 device"), std::string::npos) << watch.Said;
    close(held);
    pid_t walk = fork();
    if (walk == 0) {
        fcntl(master, F_SETFD, 0);
        std::string script = std::string(QUORVEL_SOURCE_DIR) + "/tests/watch/watch_walk.py";
        execlp("python3", "python3", script.c_str(), device.c_str(), std::to_string(master).c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(walk, &status, 0);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(RunProgram({"stty", "-F", device, "19200"}), 0);
    ASSERT_EQ(RunProgram({"picocom", "-q", "-b", "57600", "-d", "7", "-y", "e", "--initstring", "AT\r", "-X", device}), 0);
    UnpluggedWhileOpen(device, master);
    usleep(100000);
    EXPECT_EQ(EndWatch(watch, SIGTERM), 128 + SIGTERM);
    std::vector<std::string> lines = CaptureLines(capture);
    std::string pid = std::to_string(walk), me = std::to_string(getpid());
    std::vector<std::string> expected = ExpectedLines(device, me);
    std::vector<std::string> plain;
    for (const std::string& line : lines) plain.push_back(Plain(line, pid));
    for (size_t i = 0; i < std::max(plain.size(), expected.size()); ++i) {
        ASSERT_EQ(i < plain.size() ? plain[i] : "(none)", i < expected.size() ? Plain(expected[i], pid) : "(none)")
            << "line " << i;
    }
    unlink(capture.c_str());
    rmdir(folder);
}

TEST(WatchWalk, NoProgramIsLeftAttachedAfterTermOrKill) {
    if (geteuid() != 0) GTEST_SKIP() << "the watch needs root";
    for (int signal : {SIGTERM, SIGKILL}) {
        WaitFor(Loaded, "0\n");
        RunningWatch watch;
        StartWatch({"--no-monitor", "/dev/null"}, watch);
        ASSERT_NE(watch.Said.find("Watching 1 device"), std::string::npos) << watch.Said;
        EXPECT_EQ(Attached(), "2\n");
        EndWatch(watch, signal);
        EXPECT_TRUE(WaitFor(Loaded, "0\n")) << "after signal " << signal;
        EXPECT_EQ(Attached(), "0\n") << "after signal " << signal;
    }
}

}  // namespace

namespace {

// Under sudo only the watch is root: its feed's folder, the feed and the
// capture file are the calling user's alone (here nobody, 65534).
TEST(WatchWalk, UnderSudoTheFeedAndTheCaptureAreTheCallersAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "the watch needs root";
    char folder[] = "/tmp/quorvel-watch-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    std::string capture = std::string(folder) + "/session.pcap";
    setenv("SUDO_UID", "65534", 1);
    setenv("SUDO_GID", "65534", 1);
    RunningWatch watch;
    StartWatch({"--no-monitor", "--capture", capture, "/dev/null"}, watch);
    unsetenv("SUDO_UID");
    unsetenv("SUDO_GID");
    size_t feed = watch.Said.find("Feed: ");
    ASSERT_NE(feed, std::string::npos) << watch.Said;
    std::string path = watch.Said.substr(feed + 6, watch.Said.find('\n', feed) - feed - 6);
    struct stat info{};
    ASSERT_EQ(lstat(path.c_str(), &info), 0) << path;
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(lstat((path + "/feed").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(lstat(capture.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(EndWatch(watch, SIGTERM), 128 + SIGTERM);
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "the folder is left";
    unlink(capture.c_str());
    rmdir(folder);
}

}  // namespace

namespace {

// --program keeps to one program (stty's settings are not seen), and a call
// that moves more than the 64 KiB a call's copy holds shows that much and
// says how much more it moved: nothing is lost silently.
TEST(WatchWalk, OneProgramOnlyAndACallBeyondItsCopyIsCounted) {
    if (geteuid() != 0) GTEST_SKIP() << "the watch needs root";
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    std::string device = ptsname(master);
    char folder[] = "/tmp/quorvel-watch-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    std::string capture = std::string(folder) + "/session.pcap";
    RunningWatch watch;
    StartWatch({"--no-monitor", "--program", "python3", "--capture", capture, device}, watch);
    ASSERT_EQ(RunProgram({"stty", "-F", device, "9600"}), 0);
    int held = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // the master's reads wait, not fail, between programs
    std::thread drain([master] {
        char buffer[65536];
        for (size_t got = 0; got < 200000;) {
            ssize_t count = read(master, buffer, sizeof(buffer));
            if (count <= 0) break;
            got += static_cast<size_t>(count);
        }
    });
    std::string script = "import os, tty; fd = os.open('" + device + "', os.O_RDWR | os.O_NOCTTY); tty.setraw(fd); "
                         "assert os.write(fd, b'x' * 200000) == 200000";
    EXPECT_EQ(RunProgram({"python3", "-c", script}), 0);
    drain.join();
    usleep(200000);
    EXPECT_EQ(EndWatch(watch, SIGTERM), 128 + SIGTERM);
    std::string all;
    size_t tx = 0;
    for (const std::string& line : CaptureLines(capture)) {
        all += line + "\n";
        if (line.rfind("TX ", 0) == 0) tx += line.size() - 3;
    }
    EXPECT_EQ(all.find("stty"), std::string::npos) << all;
    EXPECT_EQ(tx, 65536u);
    EXPECT_NE(all.find("[134464 bytes not seen]"), std::string::npos) << all.substr(all.size() > 300 ? all.size() - 300 : 0);
    unlink(capture.c_str());
    rmdir(folder);
    close(held);
    close(master);
}

}  // namespace

namespace {

// Bad input and missing rights: exit code 2 and one line that names what is
// wrong (and, for the rights, the tap as the way that needs none).
TEST(WatchWalk, BadInputAndMissingRightsAreOneLineAndExitCode2) {
    if (geteuid() != 0) GTEST_SKIP() << "the devices are looked at once the rights are there, and nobody is made by root";
    struct Case {
        std::string Arguments, Says;
        bool AsNobody;
    };
    const Case cases[] = {
        {"--pid abc /dev/null", "--pid abc: not a process number", false},
        {"--program averyveryverylongname /dev/null", "--program averyveryverylongname:", false},
        {"--frame-gap 5 /dev/null", "--frame-gap: only with --capture", false},
        {"--frobnicate", "--frobnicate: no such option", false},
        {"/dev/quorvel-no-such-device", "/dev/quorvel-no-such-device: No such file or directory", false},
        {"/etc/passwd", "/etc/passwd: not a character device", false},
        {"/dev/null", "needs root, or CAP_BPF and CAP_PERFMON; quorvel-tap needs neither", true},
    };
    for (const Case& row : cases) {
        std::string command = (row.AsNobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") + kWatch +
                              " --no-monitor " + row.Arguments + " 2>&1; echo \"exit $?\"";
        std::string said = Shell(command);
        EXPECT_NE(said.find(row.Says), std::string::npos) << row.Arguments << ": " << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << row.Arguments << ": " << said;
        EXPECT_NE(said.find("exit 2\n"), std::string::npos) << row.Arguments << ": " << said;
    }
}

}  // namespace
