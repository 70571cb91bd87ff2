// Winsock's header goes before windows.h, which the lab's header brings.
#include <winsock2.h>

#include "bench/remote_lines.h"

#include <fstream>
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

}  // namespace

bool StartSer2net(testsupport::LineLab& lab, const std::string& telnetDevice, const std::string& plainDevice,
                  Ser2netPorts* ports) {
    std::vector<int> free = FreeLoopbackPorts(2);
    if (free.empty()) return false;
    ports->Telnet = free[0];
    ports->Plain = free[1];
    {
        std::ofstream file(lab.WindowsPath("ser2net.yaml"));
        file << Connection("telnet", "telnet(rfc2217),tcp,127.0.0.1," + std::to_string(ports->Telnet), telnetDevice)
             << Connection("plain", "tcp,127.0.0.1," + std::to_string(ports->Plain), plainDevice);
        if (!file.flush()) return false;
    }
    // In the foreground (-n), so that the lab knows its id and ends it.
    if (!lab.StartProgram({"/usr/sbin/ser2net", "-n", "-c", lab.Path("ser2net.yaml")}, "ser2net")) return false;
    for (int look = 0; look < 100; ++look) {
        if (Listening(lab, free)) return true;
        if (!lab.ReadFile("ser2net.done").empty()) return false;  // it has ended
        PumpFor(100);
    }
    return false;
}

}  // namespace bench
