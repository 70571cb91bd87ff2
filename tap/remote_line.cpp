#include "tap/remote_line.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "tap/com_port_link.h"

namespace tap {
namespace {

struct Address {
    sockaddr_storage Storage{};
    socklen_t Size = 0;
};

// Every remote line of the process: the relay's thread and a test's may
// both call, so one lock guards it all.
struct Registry {
    std::mutex Lock;
    std::map<int, std::unique_ptr<ComPortLink>> Links;  // by socket
    std::map<std::string, Address> Addresses;           // by path, resolved at the start
    std::map<std::string, int> Connecting;              // by path: a connection under way
    std::map<std::string, std::unique_ptr<ComPortLink>> Trying;  // by path: connected, the server not heard yet
};

Registry& Lines() {
    static Registry registry;
    return registry;
}

const LineOps& Kernel() { return KernelLineOps(); }

ComPortLink* LinkOf(int fd) {
    auto found = Lines().Links.find(fd);
    return found == Lines().Links.end() ? nullptr : found->second.get();
}

bool Resolve(const std::string& path, Address* address, std::string* why) {
    std::string host, port;
    if (!ParseRemoteLine(path, &host, &port, why)) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (error != 0 || !found) {
        *why = path + ": the host " + host + " does not resolve (" + gai_strerror(error) + ")";
        return false;
    }
    std::copy_n(reinterpret_cast<const uint8_t*>(found->ai_addr), found->ai_addrlen,
                reinterpret_cast<uint8_t*>(&address->Storage));
    address->Size = found->ai_addrlen;
    freeaddrinfo(found);
    return true;
}

// A connection that has come through: its link takes it over and is tried
// until the server has said something of COM-PORT. Small writes go at once
// (Nagle's wait would delay every command).
void Connected(const std::string& path, int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    // A connection that goes silent (a cable pulled, a machine gone) is
    // found gone within about 11 s: probes after 5 s of quiet, and unsent
    // bytes given up after 10 s.
    int idle = 5, interval = 2, probes = 3;
    unsigned int unacknowledgedMs = 10000;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof(probes));
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledgedMs, sizeof(unacknowledgedMs));
    Lines().Trying[path] = std::make_unique<ComPortLink>(fd, Kernel().NowMicroseconds());
}

// Looks at the connection under way: one that has come through is tried,
// one that failed is let go.
void LookAtConnection(Registry& lines, const std::string& path) {
    auto under = lines.Connecting.find(path);
    if (under == lines.Connecting.end()) return;
    int fd = under->second;
    pollfd probe{fd, POLLOUT, 0};
    if (poll(&probe, 1, 0) == 0) return;
    lines.Connecting.erase(under);
    int error = 0;
    socklen_t size = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) Connected(path, fd);
    else close(fd);
}

// Starts a connection to the path's address (looked up now if it was not at
// the start); false when it failed at once.
bool StartConnection(Registry& lines, const std::string& path) {
    auto known = lines.Addresses.find(path);
    if (known == lines.Addresses.end()) {
        std::string why;
        Address address;
        if (!Resolve(path, &address, &why)) return false;
        known = lines.Addresses.emplace(path, address).first;
    }
    const Address& address = known->second;
    int fd = socket(address.Storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address.Storage), address.Size) == 0) {
        Connected(path, fd);
    } else if (errno == EINPROGRESS) {
        lines.Connecting[path] = fd;
    } else {
        close(fd);
        return false;
    }
    return true;
}

// One step of connecting, never waiting: the connection under way, then the
// server heard or not; a connection that failed or ended before the server
// said anything (a line in use: ser2net greets, says so and closes) is let
// go, and the next step starts anew. The socket once the server has been
// heard, or -1: errno EINPROGRESS while a connection is under way or tried,
// ETIMEDOUT when the server said nothing of COM-PORT in time.
int ConnectStep(const std::string& path) {
    Registry& lines = Lines();
    if (!lines.Connecting.count(path) && !lines.Trying.count(path) && !StartConnection(lines, path)) return -1;
    LookAtConnection(lines, path);
    auto trying = lines.Trying.find(path);
    if (trying != lines.Trying.end()) {
        ComPortLink& link = *trying->second;
        uint64_t now = Kernel().NowMicroseconds();
        link.Listen(now);
        link.Serve(POLLOUT, now);
        if (link.Heard() && !link.Ended()) {
            int fd = link.Socket();
            lines.Links[fd] = std::move(trying->second);
            lines.Trying.erase(trying);
            return fd;
        }
        bool silent = !link.Ended() && link.SinceOpened(now) > ComPortLink::kAnswerWaitUs;
        if (link.Ended() || silent) {
            lines.Trying.erase(trying);
            errno = silent ? ETIMEDOUT : ECONNRESET;
            return -1;
        }
    }
    errno = lines.Connecting.count(path) || lines.Trying.count(path) ? EINPROGRESS : ECONNREFUSED;
    return -1;
}

// ---- The table -------------------------------------------------------------

ssize_t RemoteRead(int fd, void* buffer, size_t size) {
    std::unique_lock lock(Lines().Lock);
    if (ComPortLink* link = LinkOf(fd)) return link->Read(buffer, size, Kernel().NowMicroseconds());
    lock.unlock();
    return Kernel().Read(fd, buffer, size);
}

ssize_t RemoteWrite(int fd, const void* bytes, size_t size) {
    std::unique_lock lock(Lines().Lock);
    if (ComPortLink* link = LinkOf(fd)) return link->Write(bytes, size);
    lock.unlock();
    return Kernel().Write(fd, bytes, size);
}

// The poll hears the links' own needs too (a queue to send, an answer's
// deadline), and a link's decoded bytes count as readable; the relay sees
// only the events it asked for.
int RemotePoll(pollfd* fds, nfds_t count, int timeoutMs) {
    std::vector<short> asked(count);
    std::unique_lock lock(Lines().Lock);
    uint64_t now = Kernel().NowMicroseconds();
    for (nfds_t i = 0; i < count; ++i) {
        asked[i] = fds[i].events;
        ComPortLink* link = LinkOf(fds[i].fd);
        if (!link) continue;
        fds[i].events = static_cast<short>(fds[i].events | link->Needs() | POLLRDHUP);
        if (link->HasInput() && (asked[i] & POLLIN)) timeoutMs = 0;
        int64_t until = link->UntilDeadline(now);
        if (until >= 0) {
            int ms = static_cast<int>((until + 999) / 1000);
            timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
        }
    }
    lock.unlock();
    int ready = Kernel().Poll(fds, count, timeoutMs);
    if (ready < 0) return ready;
    lock.lock();
    now = Kernel().NowMicroseconds();
    ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
        if (ComPortLink* link = LinkOf(fds[i].fd)) {
            if (!link->Serve(fds[i].revents, now)) fds[i].revents |= POLLERR;
            // The server's end, as a device's hang-up: heard even while the
            // relay reads nothing of the line.
            if (fds[i].revents & POLLRDHUP) fds[i].revents |= POLLHUP;
            if (link->HasInput() && (asked[i] & POLLIN)) fds[i].revents |= POLLIN;
            fds[i].revents &= static_cast<short>(asked[i] | POLLHUP | POLLERR | POLLNVAL);
            fds[i].events = asked[i];
        }
        if (fds[i].revents) ++ready;
    }
    return ready;
}

int RemoteOpen(const char* path, bool readOnly) {
    if (!IsRemoteLine(path)) return Kernel().OpenDevice(path, readOnly);
    std::lock_guard lock(Lines().Lock);
    return ConnectStep(path);
}

void RemoteClose(int fd) {
    std::unique_lock lock(Lines().Lock);
    auto found = Lines().Links.find(fd);
    if (found != Lines().Links.end()) {
        Lines().Links.erase(found);  // the link closes its socket
        return;
    }
    lock.unlock();
    Kernel().Close(fd);
}

bool RemoteApply(int fd, const LineSettings& settings) {
    std::lock_guard lock(Lines().Lock);
    ComPortLink* link = LinkOf(fd);
    return link ? link->ApplyAndWait(settings, Kernel()) : Kernel().ApplySettings(fd, settings);
}

int RemoteApplyWhenSent(int fd, const LineSettings& settings) {
    std::lock_guard lock(Lines().Lock);
    ComPortLink* link = LinkOf(fd);
    return link ? link->Apply(settings, Kernel().NowMicroseconds()) : Kernel().ApplyWhenSent(fd, settings);
}

size_t RemoteUnsent(int fd) {
    std::lock_guard lock(Lines().Lock);
    return LinkOf(fd) ? 0 : Kernel().Unsent(fd);  // what the server holds is not known
}

void RemoteFlushOutput(int fd) {
    std::lock_guard lock(Lines().Lock);
    if (ComPortLink* link = LinkOf(fd)) link->PurgeToSend();
    else Kernel().FlushDeviceOutput(fd);
}

void RemoteFlushInput(int fd) {
    std::lock_guard lock(Lines().Lock);
    if (ComPortLink* link = LinkOf(fd)) link->PurgeReceived();
    else Kernel().FlushDeviceInput(fd);
}

bool RemoteModemLines(int fd, int* bits) {
    std::lock_guard lock(Lines().Lock);
    ComPortLink* link = LinkOf(fd);
    return link ? link->ModemLines(bits, Kernel().NowMicroseconds()) : Kernel().ModemLines(fd, bits);
}

bool RemoteCounts(int fd, ErrorCounts* counts) {
    std::lock_guard lock(Lines().Lock);
    ComPortLink* link = LinkOf(fd);
    if (!link) return Kernel().Counts(fd, counts);
    *counts = link->Counts();
    return true;
}

}  // namespace

bool ParseRemoteLine(std::string_view path, std::string* host, std::string* port, std::string* why) {
    std::string_view rest = path.substr(std::min(path.size(), kRemoteScheme.size()));
    size_t colon = rest.rfind(':');
    size_t bracket = rest.rfind(']');
    if (!IsRemoteLine(path) || colon == std::string_view::npos || (bracket != std::string_view::npos && colon < bracket)) {
        *why = std::string(path) + ": no port (rfc2217://HOST:PORT)";
        return false;
    }
    std::string_view name = rest.substr(0, colon), number = rest.substr(colon + 1);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (name.empty()) {
        *why = std::string(path) + ": no host (rfc2217://HOST:PORT)";
        return false;
    }
    bool digits = !number.empty() && number.size() <= 5 &&
                  std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoul(std::string(number)) == 0 || std::stoul(std::string(number)) > 65535) {
        *why = std::string(path) + ": the port " + std::string(number) + " is not a number from 1 to 65535";
        return false;
    }
    *host = std::string(name);
    *port = std::string(number);
    return true;
}

bool ResolveRemoteLine(const std::string& path, std::string* why) {
    Address address;
    if (!Resolve(path, &address, why)) return false;
    std::lock_guard lock(Lines().Lock);
    Lines().Addresses[path] = address;
    return true;
}

int ConnectRemoteLine(const std::string& path, int waitMs) {
    constexpr int kStepMs = 5;
    for (int waited = 0;; waited += kStepMs) {
        {
            std::lock_guard lock(Lines().Lock);
            int fd = ConnectStep(path);
            if (fd >= 0 || errno != EINPROGRESS || waited >= waitMs) return fd;
        }
        usleep(kStepMs * 1000);
    }
}

const LineOps& RemoteLineOps() {
    static const LineOps ops = {RemoteRead,          RemoteWrite,         RemotePoll,
                                RemoteOpen,          RemoteClose,         RemoteApply,
                                RemoteApplyWhenSent, Kernel().ApplicationTermios, Kernel().SetExtproc,
                                Kernel().Unread,     Kernel().FlushApplication,   Kernel().ApplicationOpen,
                                RemoteUnsent,        RemoteFlushOutput,   RemoteFlushInput,
                                RemoteModemLines,    RemoteCounts,        Kernel().ReopenReader,
                                Kernel().NowMicroseconds};
    return ops;
}

}  // namespace tap
