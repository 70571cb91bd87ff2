#include "port/port_control.h"

#include <cstring>

#include "driver/device_request.h"
#include "wire/request_codes.h"
#include "port/capture_ring.h"
#include "wire/port_control_records.h"
#include "system/scoped_handles.h"

namespace quorvel {
namespace {

// The wrappers' completion events: main thread only, created at first use
// and never closed.
HANDLE g_pauseEvent = nullptr;
HANDLE g_channelModeEvent = nullptr;  // shared by open and close
HANDLE g_writeEvent = nullptr;
HANDLE g_readEvent = nullptr;
HANDLE g_escapeEvent = nullptr;

bool CanSend(const PortMonitor& port) {
    return port.DeviceHandle != INVALID_HANDLE_VALUE && PublishedCaptureRing(port) != nullptr;
}

// The key that heads every record: the copy in the ring's header.
uint32_t RingKey(const PortMonitor& port) { return PublishedCaptureRing(port)->PortKey; }

PortFlagsRecord FlagsRecord(const PortMonitor& port, bool first, bool second) {
    PortFlagsRecord record{};
    record.PortKey = RingKey(port);
    record.First = first ? 1 : 0;
    record.Second = second ? 1 : 0;
    return record;
}

// Sends a request and waits for it; clears the thread's last error after a
// successful wait for a pending one. True when it completed successfully;
// bytes (optional) gets its count.
bool Send(const PortMonitor& port, uint32_t code, const void* input, DWORD inputSize, void* output,
          DWORD outputSize, HANDLE event, DWORD* bytes = nullptr) {
    bool ok = RunRequest(port.DeviceHandle, code, input, inputSize, output, outputSize, event, bytes);
    if (ok) SetLastError(ERROR_SUCCESS);
    return ok;
}

}  // namespace

bool TogglePause(PortMonitor& port, bool tx, bool rx) {
    if (!CanSend(port) || !LazyAutoResetEvent(g_pauseEvent)) return false;
    PortFlagsRecord record = FlagsRecord(port, tx, rx);
    if (!Send(port, IOCTL_LINE_TOGGLE_PAUSE, &record, sizeof(record), nullptr, 0, g_pauseEvent)) {
        return false;
    }
    if (tx) port.TxPaused = port.TxPaused ? 0 : 1;
    if (rx) port.RxPaused = port.RxPaused ? 0 : 1;
    return true;
}

bool IsPaused(const PortMonitor& port, PauseFlag flag) {
    return (flag == PauseFlag::Tx ? port.TxPaused : port.RxPaused) != 0;
}

bool OpenCommandChannel(PortMonitor& port) {
    if (!CanSend(port) || !LazyAutoResetEvent(g_channelModeEvent)) return false;
    CommandModeRecord record{};
    record.PortKey = RingKey(port);
    record.Enable = 1;
    record.ReadIntervalTimeout = kReadReturnsAtOnce;
    if (!Send(port, IOCTL_LINE_SET_COMMAND_MODE, &record, sizeof(record), nullptr, 0,
              g_channelModeEvent)) {
        return false;
    }
    port.CommandChannelOpen = 1;
    return true;
}

void CloseCommandChannel(PortMonitor& port) {
    // The shared event exists once an open was tried; the close never makes it.
    if (!CanSend(port) || !port.CommandChannelOpen || !g_channelModeEvent) return;
    CommandModeRecord record{};
    record.PortKey = RingKey(port);
    Send(port, IOCTL_LINE_SET_COMMAND_MODE, &record, sizeof(record), nullptr, 0, g_channelModeEvent);
}

uint32_t WriteCommand(PortMonitor& port, const char* text, uint32_t length) {
    if (!CanSend(port) || !LazyAutoResetEvent(g_writeEvent)) return 0;
    DWORD size = sizeof(CommandWriteRecord) + length;
    OwnedBuffer<uint8_t> record(size);
    if (!record) return 0;
    uint32_t key = RingKey(port);
    std::memcpy(record.Get(), &key, sizeof(key));
    if (length) std::memcpy(record.Get() + sizeof(CommandWriteRecord), text, length);
    DWORD count = 0;
    if (!Send(port, IOCTL_LINE_WRITE_COMMAND, record.Get(), size, nullptr, 0, g_writeEvent, &count)) {
        count = 0;
    }
    return count;
}

uint32_t ReadResponse(PortMonitor& port, char* buffer, uint32_t size) {
    if (!CanSend(port) || !LazyAutoResetEvent(g_readEvent)) return 0;
    uint32_t key = RingKey(port);
    DWORD count = 0;
    if (!Send(port, IOCTL_LINE_READ_RESPONSE, &key, sizeof(key), buffer, size, g_readEvent, &count)) {
        count = 0;
    }
    return count;
}

void SendEscapeFollowup(PortMonitor& port, FollowupFlags flags) {
    if (!CanSend(port) || !LazyAutoResetEvent(g_escapeEvent)) return;
    PortFlagsRecord record = FlagsRecord(port, flags.First, flags.Second);
    Send(port, IOCTL_LINE_ESCAPE_FOLLOWUP, &record, sizeof(record), nullptr, 0, g_escapeEvent);
}

}  // namespace quorvel
