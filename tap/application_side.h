// The application's side of a tap: a pty that the tap makes and owns. Its
// slave is what the application opens (only its user may: mode 0600); its
// master is the relay's end, in packet mode, with EXTPROC set in the
// slave's local flags so that every change of the application's settings is
// reported on the master (TIOCPKT_IOCTL). An inotify watch on the slave
// says when a program opens it.
#pragma once

#include <string>

#include "tap/line_settings.h"

namespace tap {

struct ApplicationSide {
    int Master = -1;
    int Watch = -1;          // inotify: readable when the slave is opened or closed
    std::string SlavePath;   // /dev/pts/N
};

// Makes the pty with the settings as the slave's first ones (raw). False
// with *why when the kernel refused a step; nothing stays open then.
bool MakeApplicationSide(const LineSettings& settings, ApplicationSide* side, std::string* why);
void CloseApplicationSide(ApplicationSide* side);

// A pty pair for the simulated modem: the modem gets the master, the tap
// opens the slave as its device.
bool MakeModemPty(int* master, std::string* slavePath, std::string* why);

}  // namespace tap
