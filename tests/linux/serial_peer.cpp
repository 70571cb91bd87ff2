// A Linux program at one end of a real serial line (a tty or one end of a
// pty pair), for the tests and the benchmark of the stand-in's relays: the
// application that talks through a tap, or the device that answers it.
//
//   serial_peer PATH [--send TEXT] [--pattern N:SEED] [--chunk C] [--rate B]
//                    [--answer REQUEST=REPLY] [--expect N] [--check SEED]
//                    [--for-ms T] [--out FILE] [--timeout-ms T] [--ready FILE]
//     Writes what it is given (TEXT with the scenarios' escapes: \r \n \xHH ..., or N
//     bytes of the line pattern of SEED, in chunks of C bytes, paced at B
//     bytes a second if given, a whole chunk at a time) while it reads what
//     comes; whenever what has come ends with REQUEST it writes REPLY. It is
//     done once everything is written and N bytes have come (with --expect),
//     or, with --for-ms, once everything is written and T ms have passed.
//     --check: what comes must be the pattern of SEED. FILE gets what came, and FILE.done one line:
//     "ok COUNT", or what went wrong. --ready: FILE is made once the line
//     is open, before the first byte is written.
//
//   serial_peer --latency N --client PATH --server PATH --out FILE
//     N exchanges of "AT\r" and "\r\nOK\r\n" between the two ends, one at a
//     time; FILE: "COUNT MEDIAN_US P99_US" (and FILE.done).
//
//   serial_peer --throughput BYTES --client PATH --server PATH --out FILE
//     BYTES of the pattern from the client to the server; FILE: "BYTES
//     SECONDS INTACT" (and FILE.done).
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/linux/raw_line.h"
#include "emulator/scenario/scenario_escapes.h"
#include "tests/support/line_pattern.h"

namespace {

double Now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The text's escapes as the stand-in's scenarios write them.
bool Unescape(const std::string& text, std::string* bytes) {
    std::string error;
    return emu::scenario::DecodeEscapes(text, bytes, &error);
}

void WriteFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".part";
    if (FILE* file = std::fopen(temporary.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        std::rename(temporary.c_str(), path.c_str());
    }
}

// FILE gets what a run gives, then FILE.done its status line.
void WriteOutcome(const std::string& out, const std::string& contents, const std::string& status) {
    WriteFile(out, contents);
    WriteFile(out + ".done", status + "\n");
}

// Adds what the line holds, at most `most` bytes; the read's count.
ssize_t ReadSome(int fd, std::string* into, size_t most = 65536) {
    char buffer[65536];
    ssize_t count = read(fd, buffer, std::min(sizeof(buffer), most));
    if (count > 0) into->append(buffer, static_cast<size_t>(count));
    return count;
}

// ---- One end ---------------------------------------------------------------

struct EndOptions {
    std::string Path;
    std::string Send;
    size_t Chunk = 4096;
    double Rate = 0;  // bytes a second; 0: as fast as the line takes them
    std::string Request, Reply;
    size_t Expect = 0;
    bool Check = false;
    uint32_t CheckSeed = 0;
    std::string Out;
    std::string Ready;  // made once the line is open
    double ForSeconds = 0;  // listen this long, whatever comes
    double TimeoutSeconds = 30;
};

// Takes what the line holds into `received`, checks it against the pattern
// of --check, and queues the reply when it ends with the request; what went
// wrong, or nothing.
std::string Receive(int fd, const EndOptions& options, testsupport::LinePattern& expected, std::string* received,
                    std::string* pending) {
    size_t before = received->size();
    ssize_t count = ReadSome(fd, received);
    if (count < 0 && errno != EAGAIN) return std::string("read: ") + std::strerror(errno);
    if (count > 0 && !options.Request.empty() && received->ends_with(options.Request)) *pending += options.Reply;
    for (size_t i = before; options.Check && i < received->size(); ++i) {
        if ((*received)[i] != expected.Next()) return "mismatch at byte " + std::to_string(i);
    }
    return "";
}

int RunEnd(const EndOptions& options) {
    int fd = OpenRawLine(options.Path.c_str());
    std::string status;
    std::string received, pending = options.Send;
    size_t sent = 0;
    testsupport::LinePattern expected(options.CheckSeed);
    double start = Now();
    if (fd < 0) status = "cannot open " + options.Path + ": " + std::strerror(errno);
    if (fd >= 0 && !options.Ready.empty()) WriteFile(options.Ready, "");
    while (status.empty()) {
        bool written = sent >= pending.size();
        double elapsed = Now() - start;
        if (options.ForSeconds > 0) {
            if (written && elapsed >= options.ForSeconds) break;
        } else if (written && (options.Expect ? received.size() >= options.Expect : options.Request.empty())) {
            break;
        }
        if (elapsed > options.TimeoutSeconds) {
            status = "timeout: wrote " + std::to_string(sent) + ", read " + std::to_string(received.size());
            break;
        }
        size_t allowed = pending.size();
        if (options.Rate > 0) allowed = std::min(allowed, static_cast<size_t>(elapsed * options.Rate));
        // Paced, a write waits for a whole chunk (or the last bytes), so that
        // the line carries runs of the chunk's size.
        bool mayWrite = sent < allowed &&
                        (options.Rate <= 0 || allowed - sent >= options.Chunk || allowed == pending.size());
        pollfd poll_fd{fd, static_cast<short>(POLLIN | (mayWrite ? POLLOUT : 0)), 0};
        poll(&poll_fd, 1, 1);
        if (poll_fd.revents & POLLIN) status = Receive(fd, options, expected, &received, &pending);
        if (mayWrite && (poll_fd.revents & POLLOUT)) {
            size_t size = std::min(options.Chunk, allowed - sent);
            ssize_t count = write(fd, pending.data() + sent, size);
            if (count > 0) sent += static_cast<size_t>(count);
            else if (count < 0 && errno != EAGAIN) status = std::string("write: ") + std::strerror(errno);
        }
        if (poll_fd.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            if (!(poll_fd.revents & POLLIN)) status = "the line hung up";
        }
    }
    if (status.empty()) status = "ok " + std::to_string(received.size());
    if (!options.Out.empty()) WriteOutcome(options.Out, received, status);
    if (fd >= 0) close(fd);
    std::printf("%s\n", status.c_str());
    return status.rfind("ok", 0) == 0 ? 0 : 1;
}

// ---- Two ends: the benchmark ------------------------------------------------

// Reads until the bytes have come; false after the time-out.
bool ReadExactly(int fd, size_t count, std::string* into, double deadline) {
    while (into->size() < count) {
        if (Now() > deadline) return false;
        pollfd poll_fd{fd, POLLIN, 0};
        poll(&poll_fd, 1, 10);
        ReadSome(fd, into, count - into->size());
    }
    return true;
}

int RunLatency(int exchanges, const std::string& client, const std::string& server, const std::string& out) {
    int a = OpenRawLine(client.c_str()), b = OpenRawLine(server.c_str());
    std::vector<double> microseconds;
    const std::string command = "AT\r", answer = "\r\nOK\r\n";
    for (int i = 0; i < exchanges && a >= 0 && b >= 0; ++i) {
        std::string atServer, atClient;
        double begun = Now();
        if (write(a, command.data(), command.size()) != 3) break;
        if (!ReadExactly(b, command.size(), &atServer, begun + 5)) break;
        if (write(b, answer.data(), answer.size()) != 6) break;
        if (!ReadExactly(a, answer.size(), &atClient, begun + 5)) break;
        if (atServer != command || atClient != answer) break;
        microseconds.push_back((Now() - begun) * 1e6);
    }
    std::sort(microseconds.begin(), microseconds.end());
    auto at = [&](double share) {
        return microseconds.empty() ? 0.0
                                    : microseconds[static_cast<size_t>(share * static_cast<double>(microseconds.size() - 1))];
    };
    WriteOutcome(out, std::to_string(microseconds.size()) + " " + std::to_string(at(0.5)) + " " +
                          std::to_string(at(0.99)) + "\n", "ok");
    return static_cast<int>(microseconds.size()) == exchanges ? 0 : 1;
}

// BYTES of the pattern from the client to the server, as fast as the line
// takes them.
int RunThroughput(size_t bytes, const std::string& client, const std::string& server, const std::string& out) {
    int from = OpenRawLine(client.c_str()), to = OpenRawLine(server.c_str());
    std::string data = testsupport::LinePattern(11).Take(bytes), got;
    size_t sent = 0;
    double begun = Now();
    while (from >= 0 && to >= 0 && got.size() < bytes && Now() - begun < 120) {
        pollfd fds[2] = {{to, POLLIN, 0}, {from, static_cast<short>(sent < bytes ? POLLOUT : 0), 0}};
        poll(fds, 2, 10);
        if (fds[0].revents & POLLIN) ReadSome(to, &got);
        if ((fds[1].revents & POLLOUT) && sent < bytes) {
            ssize_t count = write(from, data.data() + sent, std::min<size_t>(65536, bytes - sent));
            if (count > 0) sent += static_cast<size_t>(count);
        }
    }
    double seconds = Now() - begun;
    bool intact = got == data;
    WriteOutcome(out, std::to_string(bytes) + " " + std::to_string(seconds) + " " + (intact ? "1" : "0") + "\n",
                 "ok");
    return intact ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr, "usage: serial_peer PATH [options] | --latency N ... | --throughput BYTES ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    auto option = [&](const char* name, std::string* value) {
        auto found = std::find(args.begin(), args.end(), name);
        if (found == args.end() || found + 1 == args.end()) return false;
        *value = *(found + 1);
        return true;
    };
    std::string value, client, server, out;
    option("--client", &client);
    option("--server", &server);
    option("--out", &out);
    if (option("--latency", &value)) return RunLatency(std::atoi(value.c_str()), client, server, out);
    if (option("--throughput", &value)) return RunThroughput(std::strtoull(value.c_str(), nullptr, 10), client, server, out);
    if (args.empty() || args[0].rfind("--", 0) == 0) return Usage();

    EndOptions end;
    end.Path = args[0];
    end.Out = out;
    if (option("--send", &value) && !Unescape(value, &end.Send)) return Usage();
    if (option("--pattern", &value)) {
        size_t colon = value.find(':');
        size_t count = std::strtoull(value.c_str(), nullptr, 10);
        uint32_t seed = colon == std::string::npos ? 1 : static_cast<uint32_t>(std::atoi(value.c_str() + colon + 1));
        end.Send += testsupport::LinePattern(seed).Take(count);
    }
    if (option("--chunk", &value)) end.Chunk = std::max<size_t>(1, std::strtoull(value.c_str(), nullptr, 10));
    if (option("--rate", &value)) end.Rate = std::atof(value.c_str());
    if (option("--answer", &value)) {
        size_t equals = value.find('=');
        if (equals == std::string::npos || !Unescape(value.substr(0, equals), &end.Request) ||
            !Unescape(value.substr(equals + 1), &end.Reply)) {
            return Usage();
        }
    }
    if (option("--expect", &value)) end.Expect = std::strtoull(value.c_str(), nullptr, 10);
    if (option("--check", &value)) {
        end.Check = true;
        end.CheckSeed = static_cast<uint32_t>(std::atoi(value.c_str()));
    }
    if (option("--for-ms", &value)) end.ForSeconds = std::atof(value.c_str()) / 1000;
    option("--ready", &end.Ready);
    if (option("--timeout-ms", &value)) end.TimeoutSeconds = std::atof(value.c_str()) / 1000;
    return RunEnd(end);
}
