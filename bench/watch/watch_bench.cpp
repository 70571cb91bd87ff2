// What quorvel-watch costs, measured natively beside the same work unwatched
// in the same run: throughput through a pty pair, an unrelated program's
// system calls (dd with 1-byte blocks), and a paced 921600-baud exchange
// both ways with every byte counted in the watch's capture file, with the
// watch's own CPU time. Needs root; prints one markdown table (table 11 of
// bench/RESULTS.md).
//   usage: watch_bench [--line-seconds N]
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "emulator/formats/serial_capture.h"

namespace {

double Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string Fixed(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", digits, value);
    return text;
}

// A pty pair, both ends raw; the slave's path.
struct Pty {
    int Master = -1, Slave = -1;
    std::string Path;
    Pty() {
        Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) return;
        Path = ptsname(Master);
        Slave = open(Path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        tcgetattr(Slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(Slave, TCSANOW, &raw);
    }
    ~Pty() {
        close(Slave);
        close(Master);
    }
};

// The watch in the background, once it says it watches.
struct Watch {
    pid_t Pid = -1;
    Watch(const std::string& program, const std::vector<std::string>& arguments) {
        int out[2];
        if (pipe(out) != 0) return;
        Pid = fork();
        if (Pid == 0) {
            dup2(out[1], 1);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string said;
        char byte;
        while (said.find("Watching") == std::string::npos && read(out[0], &byte, 1) == 1) said += byte;
        close(out[0]);
    }
    // Its CPU seconds so far (user and system).
    double CpuSeconds() const {
        std::ifstream file("/proc/" + std::to_string(Pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        size_t end = text.rfind(')');
        if (end == std::string::npos) return 0;
        std::vector<std::string> fields;
        size_t at = end + 2;
        while (at < text.size()) {
            size_t next = text.find(' ', at);
            fields.push_back(text.substr(at, next - at));
            if (next == std::string::npos) break;
            at = next + 1;
        }
        if (fields.size() < 13) return 0;
        return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    ~Watch() {
        if (Pid <= 0) return;
        kill(Pid, SIGTERM);
        waitpid(Pid, nullptr, 0);
    }
};

// Seconds to move 8 MiB in 4 KiB writes from one end to the other.
double PtySeconds(const Pty& pty, bool fromSlave) {
    constexpr size_t kTotal = 8 << 20, kChunk = 4096;
    int from = fromSlave ? pty.Slave : pty.Master, to = fromSlave ? pty.Master : pty.Slave;
    double start = Now();
    std::thread writer([&] {
        std::vector<char> chunk(kChunk, 'x');
        for (size_t sent = 0; sent < kTotal;) {
            ssize_t count = write(from, chunk.data(), chunk.size());
            if (count > 0) sent += static_cast<size_t>(count);
        }
    });
    std::vector<char> buffer(65536);
    for (size_t got = 0; got < kTotal;) {
        ssize_t count = read(to, buffer.data(), buffer.size());
        if (count > 0) got += static_cast<size_t>(count);
    }
    writer.join();
    return Now() - start;
}

double Best(int runs, double (*measure)()) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) best = std::min(best, measure());
    return best;
}

double DdSeconds() {
    double start = Now();
    if (std::system("dd if=/dev/zero of=/dev/null bs=1 count=2000000 status=none") != 0) return 0;
    return Now() - start;
}

struct LineRun {
    uint64_t Tx = 0, Rx = 0;                // what the program on the slave wrote and read
    uint64_t CapturedTx = 0, CapturedRx = 0;
    uint64_t LostEvents = 0;
    double CpuShare = 0;                    // the watch's CPU time over the run's
    bool Intact = true;
};

// Writes 64-byte runs at 921600 baud's pace (92160 bytes/s) into fd until
// the end; reads what comes on the same end meanwhile is another thread's.
void Paced(int fd, double seconds, uint64_t* sent) {
    constexpr double kRate = 92160;
    char run[64];
    for (int i = 0; i < 64; ++i) run[i] = static_cast<char>('A' + i % 26);
    double start = Now();
    while (Now() - start < seconds) {
        while (static_cast<double>(*sent) < (Now() - start) * kRate) {
            ssize_t count = write(fd, run, sizeof(run));
            if (count > 0) *sent += static_cast<uint64_t>(count);
        }
        usleep(500);
    }
}

void Drain(int fd, std::atomic<bool>* done, uint64_t* got) {
    std::vector<char> buffer(65536);
    while (!done->load()) {
        pollfd one{fd, POLLIN, 0};
        if (poll(&one, 1, 50) > 0) {
            ssize_t count = read(fd, buffer.data(), buffer.size());
            if (count > 0) *got += static_cast<uint64_t>(count);
        }
    }
}

LineRun PacedBothWays(const std::string& watchProgram, double seconds) {
    Pty pty;
    char folder[] = "/tmp/quorvel-watch-bench-XXXXXX";
    LineRun result;
    if (!mkdtemp(folder)) return result;
    std::string capture = std::string(folder) + "/line.pcap";
    {
        Watch watch(watchProgram, {"--no-monitor", "--capture", capture, pty.Path});
        double cpu = watch.CpuSeconds(), start = Now();
        std::atomic<bool> done{false};
        uint64_t masterGot = 0, masterSent = 0;
        std::thread slaveReader(Drain, pty.Slave, &done, &result.Rx);
        std::thread masterReader(Drain, pty.Master, &done, &masterGot);
        std::thread masterWriter(Paced, pty.Master, seconds, &masterSent);
        Paced(pty.Slave, seconds, &result.Tx);
        masterWriter.join();
        usleep(200000);
        done = true;
        slaveReader.join();
        masterReader.join();
        result.CpuShare = (watch.CpuSeconds() - cpu) / (Now() - start);
        result.Intact = masterGot == result.Tx && result.Rx == masterSent;
    }
    std::ifstream in(capture, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto file = serialcapture::ReadCapture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    for (const auto& packet : file.Packets) {
        if (packet.Event == serialcapture::kTxData) result.CapturedTx += packet.Payload.size();
        if (packet.Event == serialcapture::kRxData) result.CapturedRx += packet.Payload.size();
        if (packet.Event == serialcapture::kDataLost) ++result.LostEvents;
    }
    unlink(capture.c_str());
    rmdir(folder);
    return result;
}

void Row(const std::vector<std::string>& cells) {
    std::string line = "|";
    for (const std::string& cell : cells) line += " " + cell + " |";
    std::puts(line.c_str());
}

}  // namespace

namespace {

std::string WatchProgram() {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) return "quorvel-watch";
    std::string path(self, static_cast<size_t>(length));
    return path.substr(0, path.rfind('/')) + "/quorvel-watch";
}

// Ten rounds, each unwatched and then watched (a watch started for the
// round), so that the machine's moods fall on both alike; the best of each.
void ThroughputRows(const std::string& program) {
    constexpr double kMegabytes = 8.0 * 1048576 / 1e6;
    Pty pty;
    double out = 1e9, in = 1e9, watchedOut = 1e9, watchedIn = 1e9;
    for (int round = 0; round < 10; ++round) {
        out = std::min(out, PtySeconds(pty, true));
        in = std::min(in, PtySeconds(pty, false));
        Watch watch(program, {"--no-monitor", pty.Path});
        watchedOut = std::min(watchedOut, PtySeconds(pty, true));
        watchedIn = std::min(watchedIn, PtySeconds(pty, false));
    }
    Row({"8 MiB through a pty pair in 4 KiB writes, the program writing, MB/s (best of 10)", Fixed(kMegabytes / watchedOut, 1),
         Fixed(kMegabytes / out, 1), "share " + Fixed(out / watchedOut, 3), "at least 0.9"});
    Row({"  the same, the program reading", Fixed(kMegabytes / watchedIn, 1), Fixed(kMegabytes / in, 1),
         "share " + Fixed(in / watchedIn, 3), "at least 0.9"});
}

void UnrelatedRows(const std::string& program) {
    Pty pty;
    std::string path = pty.Path;
    close(pty.Slave);  // nobody holds the watched device
    pty.Slave = -1;
    double bare = Best(3, DdSeconds);
    Watch watch(program, {"--no-monitor", path});
    double idle = Best(3, DdSeconds);
    int held = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // this process holds it; dd does not
    usleep(100000);
    double busy = Best(3, DdSeconds);
    close(held);
    Row({"dd if=/dev/zero of=/dev/null bs=1 count=2000000, s (best of 3): no watched device open", Fixed(idle, 3),
         Fixed(bare, 3), Fixed(idle / bare, 3) + " x", "at most 1.1 x"});
    Row({"  the same, a watched device open in another program", Fixed(busy, 3), Fixed(bare, 3),
         Fixed(busy / bare, 3) + " x", "at most 1.6 x"});
}

void LineRows(const std::string& program, double seconds) {
    LineRun run = PacedBothWays(program, seconds);
    std::string name = "921600 baud both ways, 64-byte runs, " + Fixed(seconds, 0) + " s: passed intact";
    Row({name, run.Intact ? "yes" : "no", "", "", "yes"});
    Row({"  TX bytes in the capture / written", std::to_string(run.CapturedTx), std::to_string(run.Tx),
         run.CapturedTx == run.Tx ? "equal" : "differ", "equal"});
    Row({"  RX bytes in the capture / read", std::to_string(run.CapturedRx), std::to_string(run.Rx),
         run.CapturedRx == run.Rx ? "equal" : "differ", "equal"});
    Row({"  \"not seen\" events in the capture", std::to_string(run.LostEvents), "", "", "0"});
    Row({"  the watch's own CPU time, share of one core", Fixed(run.CpuShare * 100, 2) + " %", "", "", "at most 5 %"});
}

}  // namespace

int main(int argc, char** argv) {
    double lineSeconds = 30;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--line-seconds") == 0) lineSeconds = std::atof(argv[i + 1]);
    }
    std::puts("\n### 11. quorvel-watch: what watching costs, and a paced line watched whole\n");
    if (geteuid() != 0) {
        std::puts("Not run: the watch needs root.");
        return 0;
    }
    std::string program = WatchProgram();
    Row({"figure", "watched", "unwatched", "watched / unwatched", "target"});
    Row({"---", "---", "---", "---", "---"});
    ThroughputRows(program);
    UnrelatedRows(program);
    LineRows(program, lineSeconds);
    std::puts("\nMeasured natively (build/linux/watch_bench), the same work unwatched and watched in the same run; "
              "the watch runs with --no-monitor (its feed unread, as a monitor that falls behind) and, for the "
              "paced line, with --capture, whose file is then counted. dd is unrelated to the watched device: "
              "it pays for the programs on the system calls, which this kernel allows only for every system "
              "call at once (raw sys_enter and sys_exit: the classic per-call tracepoints do not see 32-bit "
              "programs, fentry and kprobes are refused, and fanotify reports no opens of character devices).");
    return 0;
}
