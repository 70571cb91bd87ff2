// Winsock's header goes before windows.h, which the lab's header brings.
#include <winsock2.h>

#include "bench/remote_lines.h"

#include <cstdio>
#include <fstream>
#include <utility>
#include <vector>

#include "bench/bench_windows.h"

namespace bench {
namespace {

// Ports of loopback on which nothing listens now: those the system gives
// sockets bound to port 0, all held at once so that they differ. Wine's
// sockets are the machine's, so the ports are free for Linux programs too.
std::vector<int> FreeLoopbackPorts(size_t count) {
    std::vector<int> ports;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return ports;
    std::vector<SOCKET> held;
    for (size_t i = 0; i < count; ++i) {
        SOCKET bound = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (bound == INVALID_SOCKET) break;
        held.push_back(bound);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof(address);
        if (bind(bound, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            getsockname(bound, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            break;
        }
        ports.push_back(ntohs(address.sin_port));
    }
    for (SOCKET bound : held) closesocket(bound);
    WSACleanup();
    if (ports.size() != count) ports.clear();
    return ports;
}

// One connection of ser2net's configuration: the accepter as given, the
// device at 115200 8N1 without modem control (a pty has none).
std::string Connection(const std::string& name, const std::string& accepter, const std::string& device) {
    return "connection: &" + name + "\n  accepter: " + accepter + "\n  connector: serialdev," + device +
           ",115200n81,local\n";
}

// Whether something listens on each of the ports of loopback, as ss tells.
bool Listening(testsupport::LineLab& lab, const std::vector<int>& ports) {
    std::string sockets;
    if (!lab.RunProgram({"ss", "-Hltn"}, &sockets)) return false;
    for (int port : ports) {
        if (sockets.find("127.0.0.1:" + std::to_string(port) + " ") == std::string::npos) return false;
    }
    return true;
}

// The CPU time in seconds of the program that the lab started as `name`:
// user and system time from its /proc stat, after the name in brackets.
bool CpuSeconds(testsupport::LineLab& lab, const std::string& name, double* seconds) {
    std::string pid = lab.ReadFile(name + ".pid"), stat;
    pid = pid.substr(0, pid.find('\n'));
    if (pid.empty() || !lab.RunProgram({"cat", "/proc/" + pid + "/stat"}, &stat)) return false;
    size_t after = stat.rfind(')');
    unsigned long long user = 0, system = 0;
    // After the name: state, then ten numbers before utime and stime.
    if (after == std::string::npos ||
        std::sscanf(stat.c_str() + after + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                    &system) != 2) {
        return false;
    }
    *seconds = static_cast<double>(user + system) / 100;  // in the kernel's clock ticks for users
    return true;
}

}  // namespace

bool StartSer2net(testsupport::LineLab& lab, const std::string& telnetDevice, const std::string& plainDevice,
                  Ser2netPorts* ports) {
    std::vector<int> free = FreeLoopbackPorts(2);
    if (free.empty()) return false;
    ports->Telnet = free[0];
    ports->Plain = free[1];
    const std::pair<const char*, std::string> servers[] = {
        {"ser2net",
         Connection("telnet", "telnet(rfc2217),tcp,127.0.0.1," + std::to_string(ports->Telnet), telnetDevice)},
        {"ser2net-plain", Connection("plain", "tcp,127.0.0.1," + std::to_string(ports->Plain), plainDevice)},
    };
    for (const auto& [name, configuration] : servers) {
        std::string file = std::string(name) + ".yaml";
        std::ofstream out(lab.WindowsPath(file));
        if (!(out << configuration).flush()) return false;
        // In the foreground (-n), so that the lab knows its id and ends it.
        if (!lab.StartProgram({"/usr/sbin/ser2net", "-n", "-c", lab.Path(file)}, name)) return false;
    }
    for (int look = 0; look < 100; ++look) {
        if (Listening(lab, free)) return true;
        for (const auto& server : servers) {
            if (!lab.ReadFile(std::string(server.first) + ".done").empty()) return false;  // it has ended
        }
        PumpFor(100);
    }
    return false;
}

bool Ser2netCpuSeconds(testsupport::LineLab& lab, double* telnet, double* plain) {
    return CpuSeconds(lab, "ser2net", telnet) && CpuSeconds(lab, "ser2net-plain", plain);
}

}  // namespace bench
