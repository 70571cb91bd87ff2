// Lines on another machine, as the benchmark stands them in on this one:
// ser2net on loopback serves ends of the lab's pty pairs, one over Telnet
// with the COM port option (RFC 2217), as quorvel-tap reaches a remote line,
// and one over plain TCP, as socat can relay it. A ser2net process serves
// each, so that each line's server has its own CPU time; the lab started
// them, so the lab ends them.
#pragma once

#include <string>

#include "support/serial_lines.h"

namespace bench {

struct Ser2netPorts {
    int Telnet = 0;  // telnet(rfc2217) on loopback
    int Plain = 0;   // plain TCP on loopback
};

// Starts ser2net serving the lab's file `telnetDevice` over Telnet with RFC
// 2217 and `plainDevice` over plain TCP, each on a port of loopback that was
// free; true once both listen.
bool StartSer2net(testsupport::LineLab& lab, const std::string& telnetDevice, const std::string& plainDevice,
                  Ser2netPorts* ports);

// The CPU time in seconds that each line's ser2net has used so far, as
// /proc tells it; false when it cannot be read.
bool Ser2netCpuSeconds(testsupport::LineLab& lab, double* telnet, double* plain);

}  // namespace bench
