// The tests' control of the two emulated drivers: ports that arrive and
// leave, what passes them, and what the drivers hold of them.
#include "emulator/control/test_control.h"

#include "emulator/drivers/command_channel.h"
#include "emulator/drivers/control_driver.h"
#include "emulator/drivers/filter_driver.h"
#include "emulator/lines/modem_line.h"

namespace emu::control {

uint32_t AddPort(const PortBlobs& port) {
    ArrivingPort arriving;
    arriving.Blobs = port;
    arriving.Line = NewModemLine();
    return ArrivePort(arriving);
}

void RemovePort(uint32_t portKey) { LeavePort(portKey); }

void SetDriverInfoReply(const std::vector<uint8_t>& reply) { SetDriverInfo(reply); }

DriverSnapshot Driver() { return ConfiguredState(); }

void PushRecords(uint32_t portKey, const std::vector<CapturedByte>& bytes) {
    WithPort(portKey, [&](EmulatedPort& port) { RecordsPassed(port, bytes); });
}

void PushBytes(uint32_t portKey, uint8_t direction, const std::string& bytes) {
    WithPort(portKey, [&](EmulatedPort& port) { BytesPassed(port, direction, bytes, TicksNow(port)); });
}

void Flash(uint32_t portKey, uint32_t colourIndex) {
    WithPort(portKey, [&](EmulatedPort& port) { FlashColour(port, colourIndex); });
}

void SendNotice(uint32_t portKey, const std::string& text) {
    WithPort(portKey, [&](EmulatedPort& port) { PostNotice(port, text); });
}

void WakeDataWait(uint32_t portKey) {
    WithPort(portKey, [](EmulatedPort& port) { emu::WakeDataWait(port); });
}

uint64_t DroppedRecords(uint32_t portKey) {
    uint64_t dropped = 0;
    WithPort(portKey, [&](EmulatedPort& port) { dropped = port.Capture.Dropped; });
    return dropped;
}

bool IsCaptureAttached(uint32_t portKey) {
    bool attached = false;
    WithPort(portKey, [&](EmulatedPort& port) { attached = port.Capture.Ring != nullptr; });
    return attached;
}

bool IsDirectionPaused(uint32_t portKey, uint8_t direction) {
    bool paused = false;
    WithPort(portKey, [&](EmulatedPort& port) { paused = emu::IsDirectionPaused(port, direction); });
    return paused;
}

void KeepWrittenRecords(bool keep) { emu::KeepWrittenRecords(keep); }

std::vector<CapturedByte> WrittenRecords(uint32_t portKey) {
    std::vector<CapturedByte> written;
    WithPort(portKey, [&](EmulatedPort& port) { written = port.Capture.Written; });
    return written;
}

void SetTickFrequency(uint64_t ticksPerSecond) { SetDefaultTickFrequency(ticksPerSecond); }

bool IsCommandChannelOpen(uint32_t portKey) {
    bool open = false;
    WithPort(portKey, [&](EmulatedPort& port) { open = port.Channel.Open; });
    return open;
}

}  // namespace emu::control
