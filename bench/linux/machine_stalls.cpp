// machine_stalls: records when this machine stood still, so that the
// benchmark can tell the program's own waits from the machine's.
//
// One real-time thread per CPU wakes every millisecond; a wake that comes
// late by more than kLateMs means that CPU ran nothing for that long. Each
// such gap goes to FILE as "cpu START END" in microseconds of the realtime
// clock (which Wine's system time reads too), one line each, flushed at
// once; the first line is "cpus N". Where every CPU's gaps overlap, the whole
// machine stood still: a virtual machine paused by its host, which no
// program on it can help. Real-time threads need root; without them the
// program says so, leaves FILE empty and exits 1. It runs until INT, TERM or
// HUP.
//
//   usage: machine_stalls FILE
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int64_t kPeriodNs = 1000000;
constexpr int64_t kLateMs = 3;

struct Probe {
    int Cpu = 0;
    pthread_t Thread{};
};

std::FILE* g_out = nullptr;
pthread_mutex_t g_outLock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<bool> g_stop{false};

int64_t Ns(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void Record(int cpu, int64_t lateNs) {
    int64_t end = Ns(CLOCK_REALTIME) / 1000;
    pthread_mutex_lock(&g_outLock);
    std::fprintf(g_out, "%d %lld %lld\n", cpu, static_cast<long long>(end - lateNs / 1000),
                 static_cast<long long>(end));
    std::fflush(g_out);
    pthread_mutex_unlock(&g_outLock);
}

void* Watch(void* argument) {
    int cpu = static_cast<Probe*>(argument)->Cpu;
    int64_t due = Ns(CLOCK_MONOTONIC) + kPeriodNs;
    while (!g_stop.load(std::memory_order_relaxed)) {
        timespec at = {static_cast<time_t>(due / 1000000000), static_cast<long>(due % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        int64_t now = Ns(CLOCK_MONOTONIC);
        if (now - due > kLateMs * 1000000) Record(cpu, now - due);
        due = now + kPeriodNs;
    }
    return nullptr;
}

// Starts a thread pinned to cpu at the highest real-time priority; false
// when the system refuses either.
bool StartProbe(Probe& probe) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(probe.Cpu, &one);
    sched_param priority{};
    priority.sched_priority = sched_get_priority_max(SCHED_FIFO);
    bool set = pthread_attr_setaffinity_np(&attributes, sizeof(one), &one) == 0 &&
               pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED) == 0 &&
               pthread_attr_setschedpolicy(&attributes, SCHED_FIFO) == 0 &&
               pthread_attr_setschedparam(&attributes, &priority) == 0;
    int started = set ? pthread_create(&probe.Thread, &attributes, Watch, &probe) : EINVAL;
    pthread_attr_destroy(&attributes);
    if (started != 0) std::fprintf(stderr, "machine_stalls: no real-time thread on CPU %d (it needs root): %s\n", probe.Cpu,
                                   std::strerror(started));
    return started == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: machine_stalls FILE\nRecords into FILE when each CPU ran nothing for over %lld ms, "
                    "until INT, TERM or HUP. Needs root.\n", static_cast<long long>(kLateMs));
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "machine_stalls: expected one FILE, got %s (see --help)\n", argc > 1 ? argv[1] : "none");
        return 2;
    }
    g_out = std::fopen(argv[1], "w");
    if (!g_out) {
        std::fprintf(stderr, "machine_stalls: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    // A page fault in a probe would be taken for a stall.
    mlockall(MCL_CURRENT | MCL_FUTURE);
    sigset_t ends;
    sigemptyset(&ends);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ends, signal);
    pthread_sigmask(SIG_BLOCK, &ends, nullptr);  // the probes inherit the mask

    cpu_set_t cpus;
    sched_getaffinity(0, sizeof(cpus), &cpus);
    std::vector<Probe> probes;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &cpus)) probes.push_back(Probe{cpu, {}});
    }
    std::fprintf(g_out, "cpus %zu\n", probes.size());
    std::fflush(g_out);
    size_t started = 0;
    while (started < probes.size() && StartProbe(probes[started])) ++started;
    int status = started == probes.size() ? 0 : 1;
    if (status == 0) {
        int signal = 0;
        sigwait(&ends, &signal);
    }
    g_stop = true;
    for (size_t i = 0; i < started; ++i) pthread_join(probes[i].Thread, nullptr);
    std::fclose(g_out);
    // A record without every CPU's probe would pass for a machine that never
    // stood still: it is left empty, which reads as not measured.
    if (status != 0) truncate(argv[1], 0);
    return status;
}
