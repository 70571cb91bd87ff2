#include "emulator/lines/modem_line.h"

#include "emulator/drivers/command_channel.h"
#include "emulator/kernel/driver_clock.h"
#include "emulator/drivers/filter_driver.h"
#include "emulator/lines/hayes_modem.h"

namespace emu {
namespace {

struct ModemLine {
    HayesModem Modem;
    uint64_t TimerGeneration = 0;  // a scheduled modem timer runs only if still current
};

ModemLine& ModemOf(EmulatedPort& port) { return *static_cast<ModemLine*>(port.Line.Instance); }

void Deliver(EmulatedPort& port, const std::string& reply) {
    ChannelReceives(port, reply, TicksNow(port));
}

// Keeps one timer on the driver thread for the modem's next timed step. The
// timer finds the port again by its key: it may have gone meanwhile.
void ScheduleModem(EmulatedPort& port) {
    ModemLine& line = ModemOf(port);
    uint64_t generation = ++line.TimerGeneration;
    double dueMs = 0;
    if (!line.Modem.NextDueMs(&dueMs)) return;
    uint32_t key = port.Key;
    ScheduleAt(dueMs, [key, generation] {
        EmulatedPort* now = FindPort(key);
        if (!now || ModemOf(*now).TimerGeneration != generation) return;
        std::string reply;
        ModemOf(*now).Modem.Advance(DriverClockMilliseconds(), &reply);
        Deliver(*now, reply);
        ScheduleModem(*now);
    });
}

bool SetChannel(EmulatedPort&, bool) { return true; }

uint32_t Write(EmulatedPort& port, const std::string& bytes) {
    std::string reply;
    ModemOf(port).Modem.Receive(bytes, DriverClockMilliseconds(), &reply);
    Deliver(port, reply);
    ScheduleModem(port);
    return static_cast<uint32_t>(bytes.size());
}

void ConfirmEscape(EmulatedPort& port) {
    std::string reply;
    ModemOf(port).Modem.ConfirmEscape(&reply);
    Deliver(port, reply);
    ScheduleModem(port);
}

void Release(EmulatedPort& port) {
    delete static_cast<ModemLine*>(port.Line.Instance);
    port.Line.Instance = nullptr;
}

constexpr LineOps kModemLineOps = {SetChannel, Write, ConfirmEscape, Release};

}  // namespace

PortLine NewModemLine() { return PortLine{&kModemLineOps, new ModemLine}; }

}  // namespace emu
