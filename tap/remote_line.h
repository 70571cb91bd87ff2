// A line on another machine, served over the network with the Telnet COM
// port option (RFC 2217), named rfc2217://HOST:PORT where a local device's
// path would stand. The tap only connects out, to the host the user names;
// nothing of it listens.
//
// RemoteLineOps() is the relay's table of calls for such a tap: on a
// connection's socket they speak Telnet through its ComPortLink; on every
// other descriptor (the application's side, the FIFOs, a change's outcome)
// they are the kernel's. OpenDevice connects without waiting: a connection
// under way is looked at again on the next try, about twice a second, and
// one that has come through is the device only once its server has said
// something of the COM-PORT option (a line in use is greeted and closed).
#pragma once

#include <string>
#include <string_view>

#include "tap/line_ops.h"

namespace tap {

constexpr std::string_view kRemoteScheme = "rfc2217://";

inline bool IsRemoteLine(std::string_view path) { return path.substr(0, kRemoteScheme.size()) == kRemoteScheme; }

// Splits rfc2217://HOST:PORT (HOST may be [an IPv6 address]); false with one
// line that names what is wrong. Pure.
bool ParseRemoteLine(std::string_view path, std::string* host, std::string* port, std::string* why);

// Looks the host up once, at the start (the relay never waits for a name
// server); false with one line that says why.
bool ResolveRemoteLine(const std::string& path, std::string* why);

// At the start: connects, waiting up to waitMs for the server to be heard
// on the COM-PORT option; the socket, or -1 when it refused, ended the
// connection (a line in use), or has not answered yet (the relay then tries
// again), and errno ETIMEDOUT when it answered but said nothing of COM-PORT.
int ConnectRemoteLine(const std::string& path, int waitMs);

const LineOps& RemoteLineOps();

}  // namespace tap
