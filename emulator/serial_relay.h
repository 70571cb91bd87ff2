// Ports on real serial lines. A tap sits between an application and a
// device: it opens the application's side and the device's as Wine serial
// ports and passes every byte both ways as soon as it comes, recording each
// one in the capture of its emulated port (TX: application to device, RX:
// device to application). A sniffer listens to two read-only ports that
// carry a line's two directions (a sniffing cable with two adapters) and
// writes nothing to either.
//
// The line comes first: a relay never waits for the monitor, and it never
// drops, delays or reorders a byte on the line, whatever the monitor does.
// A relay's port arrives when all its serial ports are open and leaves when
// one fails (an unplugged adapter); what failed is opened again about once
// a second, and the port then arrives again, while what stayed open stays.
//
// While the program holds a tap's command channel open, the commands it
// writes go to the device and the device's answers go to the program; the
// application's bytes wait meanwhile (unread, in its own port's buffer) and
// pass once the channel closes. A sniffer refuses the channel.
#pragma once

#include "emulator/scenario.h"

namespace emu {

// Starts the relay of a tap or sniff port; its thread opens the ports.
void StartSerialRelay(const scenario::Port& plan);

// Ends every relay: each stops reading, passes on what it has read, lets
// its port leave and closes its serial ports. With wait, returns once they
// have (never call it so with the driver lock held: the relays take it);
// without, the relays end on their own.
void EndSerialRelays(bool wait);

}  // namespace emu
