#include "emulator/drivers/filter_driver.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "wire/request_codes.h"
#include "emulator/kernel/device_core.h"
#include "emulator/kernel/driver_clock.h"
#include "wire/capture_records.h"
#include "wire/port_control_records.h"

namespace emu {
namespace {

using namespace quorvel;

constexpr uint64_t kDefaultTickFrequency = 10000000;  // 100 ns ticks
constexpr uint64_t kTimestampMask = (uint64_t{1} << 48) - 1;

struct FilterSettings {
    uint64_t TickFrequency = kDefaultTickFrequency;  // of ports that bring none of their own
    bool KeepWritten = false;  // each port keeps the records written into its ring
};

FilterSettings& Settings() {
    static auto* settings = new FilterSettings;  // never destroyed: the driver thread may run at exit
    return *settings;
}

uint64_t TickFrequencyOf(const EmulatedPort& port) {
    return port.TickFrequency ? port.TickFrequency : Settings().TickFrequency;
}

// A wait for a port that has gone ends as the waits of a port that goes:
// cancelled, after having been pending.
Reply EndedWithThePort(const Request& request) {
    uint32_t id = request.Id;
    ScheduleAfter(0, [id] { CompleteRequest(id, ERROR_OPERATION_ABORTED); });
    return KeepPending();
}

bool RecordsPending(const CaptureRing* ring) {
    return ring && ring->WriteIndex != ring->ReadIndex;
}

// Completes the first still-pending wait of the queue; false when none is.
bool CompleteFirst(std::deque<uint32_t>& waits, DWORD error, const std::vector<uint8_t>& output) {
    while (!waits.empty()) {
        uint32_t id = waits.front();
        waits.pop_front();
        if (CompleteRequest(id, error, output)) return true;
    }
    return false;
}

void CompleteAll(std::deque<uint32_t>& waits, DWORD error) {
    while (CompleteFirst(waits, error, {})) {
    }
}

std::vector<uint8_t> ColourBytes(uint32_t colour) {
    return {static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8),
            static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 24)};
}

std::vector<uint8_t> NoticeBytes(const std::string& text, DWORD outputSize) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    if (bytes.size() > outputSize) bytes.resize(outputSize);
    return bytes;
}

bool IsPausedDirection(const PortCapture& capture, uint8_t direction) {
    return (direction == kDirectionTx && capture.TxPaused) || (direction == kDirectionRx && capture.RxPaused);
}

// Never beyond what the attach found writable, whatever the ring says now.
uint32_t UsableCapacity(const PortCapture& capture) { return std::min(capture.Ring->Capacity, capture.Capacity); }

// The records that a ring with these indices takes, one after another: none
// while the write index lies beyond it; otherwise up to the slot before the
// read index, which stays free so that a full ring is told from an empty
// one. A read index beyond the ring holds no write back.
uint32_t FreeSlots(uint32_t capacity, uint32_t write, uint32_t read) {
    if (write >= capacity) return 0;
    uint64_t pending = read < capacity ? (uint64_t{write} + capacity - read) % capacity : 0;
    return static_cast<uint32_t>(capacity - 1 - pending);
}

// Writes one record unless its direction is paused or the ring is full; the
// write index moves on only after the record is in place. A full ring keeps
// its pending records and counts the new one as dropped.
void WriteRecord(PortCapture& capture, const CapturedByte& byte) {
    if (IsPausedDirection(capture, byte.Direction)) return;
    CaptureRing* ring = capture.Ring;
    uint32_t capacity = UsableCapacity(capture);
    uint32_t write = ring->WriteIndex;
    if (FreeSlots(capacity, write, ring->ReadIndex) == 0) {
        ++capture.Dropped;
        return;
    }
    uint32_t next = write + 1 == capacity ? 0 : write + 1;
    CaptureRecord& record = RingRecords(ring)[write];
    uint64_t timestamp = byte.Timestamp & kTimestampMask;
    record.Data = byte.Data;
    record.Direction = byte.Direction;
    record.TimeLow = static_cast<uint16_t>(timestamp);
    record.TimeHigh = static_cast<uint32_t>(timestamp >> 16);
    MemoryBarrier();
    ring->WriteIndex = next;
    if (Settings().KeepWritten) capture.Written.push_back(byte);
}

void WakeForRecords(PortCapture& capture) {
    if (RecordsPending(capture.Ring)) CompleteFirst(capture.DataWaits, ERROR_SUCCESS, {});
}

// Whether this process may write every byte from address on: committed,
// writable memory all the way, as a driver's probe of a buffer demands.
bool ProcessCanWrite(const void* address, uint64_t bytes) {
    constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    uint64_t at = reinterpret_cast<uintptr_t>(address);
    uint64_t end = at + bytes;
    while (at < end) {
        MEMORY_BASIC_INFORMATION region;
        if (!VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), &region, sizeof(region)) ||
            region.State != MEM_COMMIT || !(region.Protect & kWritable) || (region.Protect & PAGE_GUARD)) {
            return false;
        }
        at = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    return true;
}

// The port of a per-port request that must be present; null after it has
// gone (the request then ends as the port's waits do).
EmulatedPort* PortOf(const Request& request) { return FindPort(RequestPortKey(request)); }

Reply AttachCapture(const Request& request) {
    if (request.Input.size() != sizeof(AttachRequest)) return Fail(ERROR_INVALID_PARAMETER);
    AttachRequest attach;
    std::memcpy(&attach, request.Input.data(), sizeof(attach));
    auto* ring = reinterpret_cast<CaptureRing*>(static_cast<uintptr_t>(attach.RingAddress));
    if (!ring || attach.RecordForm != 1) return Fail(ERROR_INVALID_PARAMETER);
    // The ring is the caller's memory: its header, then all its slots, must
    // be the process's to write, or the driver would fault on it.
    if (!ProcessCanWrite(ring, sizeof(CaptureRing))) return Fail(ERROR_NOACCESS);
    uint32_t capacity = ring->Capacity;
    if (!ProcessCanWrite(ring, sizeof(CaptureRing) + uint64_t{capacity} * sizeof(CaptureRecord))) {
        return Fail(ERROR_NOACCESS);
    }
    EmulatedPort* port = FindPort(ring->PortKey);
    if (!port) return Fail(ERROR_DEV_NOT_EXIST);
    ring->TickFrequency = TickFrequencyOf(*port);
    port->Capture.Ring = ring;
    port->Capture.Capacity = capacity;
    port->Capture.Options = attach.Options;
    return Succeed();
}

Reply DetachCapture(const Request& request) {
    if (EmulatedPort* port = PortOf(request)) port->Capture.Ring = nullptr;
    return Succeed();
}

// Flips the pause of TX (first flag) and RX (second flag).
Reply TogglePause(const Request& request) {
    PortFlagsRecord record;
    DWORD error = 0;
    if (!ReadPortRecord(request, &record, &error)) return Fail(error);
    PortCapture& capture = FindPort(record.PortKey)->Capture;
    if (record.First) capture.TxPaused = !capture.TxPaused;
    if (record.Second) capture.RxPaused = !capture.RxPaused;
    return Succeed();
}

Reply WaitData(const Request& request) {
    EmulatedPort* port = PortOf(request);
    if (!port) return EndedWithThePort(request);
    if (RecordsPending(port->Capture.Ring)) return Succeed();
    port->Capture.DataWaits.push_back(request.Id);
    return KeepPending();
}

Reply WaitSignal(const Request& request) {
    EmulatedPort* port = PortOf(request);
    if (!port) return EndedWithThePort(request);
    PortCapture& capture = port->Capture;
    if (!capture.Colours.empty()) {
        uint32_t colour = capture.Colours.front();
        capture.Colours.pop_front();
        return Succeed(ColourBytes(colour));
    }
    capture.SignalWaits.push_back(request.Id);
    return KeepPending();
}

Reply WaitNotice(const Request& request) {
    EmulatedPort* port = PortOf(request);
    if (!port) return EndedWithThePort(request);
    PortCapture& capture = port->Capture;
    if (!capture.Notices.empty()) {
        std::string text = capture.Notices.front();
        capture.Notices.pop_front();
        return Succeed(NoticeBytes(text, request.OutputSize));
    }
    capture.NoticeWaits.push_back(request.Id);
    return KeepPending();
}

}  // namespace

void InstallFilterDriver() {
    SetRequestHandler(IOCTL_LINE_ATTACH_CAPTURE, AttachCapture);
    SetRequestHandler(IOCTL_LINE_WAIT_DATA, WaitData);
    SetRequestHandler(IOCTL_LINE_WAIT_SIGNAL, WaitSignal);
    SetRequestHandler(IOCTL_LINE_WAIT_NOTICE, WaitNotice);
    SetRequestHandler(IOCTL_LINE_DETACH_CAPTURE, DetachCapture);
    SetRequestHandler(IOCTL_LINE_TOGGLE_PAUSE, TogglePause);
}

void BytesPassed(EmulatedPort& port, uint8_t direction, std::string_view bytes, uint64_t timestamp) {
    PortCapture& capture = port.Capture;
    if (!capture.Ring) return;
    for (char c : bytes) WriteRecord(capture, CapturedByte{static_cast<uint8_t>(c), direction, timestamp});
    WakeForRecords(capture);
}

void RecordsPassed(EmulatedPort& port, const std::vector<CapturedByte>& records) {
    PortCapture& capture = port.Capture;
    if (!capture.Ring) return;
    for (const CapturedByte& record : records) WriteRecord(capture, record);
    WakeForRecords(capture);
}

size_t RecordsThatFit(const EmulatedPort& port, uint8_t direction) {
    const PortCapture& capture = port.Capture;
    if (!capture.Ring) return 0;
    if (IsPausedDirection(capture, direction)) return std::numeric_limits<size_t>::max();
    // The capture thread may move the read index meanwhile: it only ever makes more room.
    return FreeSlots(UsableCapacity(capture), capture.Ring->WriteIndex, capture.Ring->ReadIndex);
}

uint64_t TicksNow(const EmulatedPort& port) {
    return static_cast<uint64_t>(DriverClockMilliseconds() * static_cast<double>(TickFrequencyOf(port)) / 1000.0);
}

void FlashColour(EmulatedPort& port, uint32_t colourIndex) {
    PortCapture& capture = port.Capture;
    if (!CompleteFirst(capture.SignalWaits, ERROR_SUCCESS, ColourBytes(colourIndex))) {
        capture.Colours.push_back(colourIndex);
    }
}

void PostNotice(EmulatedPort& port, const std::string& text) {
    PortCapture& capture = port.Capture;
    if (!CompleteFirst(capture.NoticeWaits, ERROR_SUCCESS, NoticeBytes(text, 400))) {
        capture.Notices.push_back(text);
    }
}

void ForgetPortCapture(EmulatedPort& port) {
    PortCapture& capture = port.Capture;
    CompleteAll(capture.DataWaits, ERROR_OPERATION_ABORTED);
    CompleteAll(capture.SignalWaits, ERROR_OPERATION_ABORTED);
    CompleteAll(capture.NoticeWaits, ERROR_OPERATION_ABORTED);
    capture.Ring = nullptr;
}

void ResetFilterDriver() {
    DriverGuard guard(DriverLock());
    Settings() = FilterSettings{};
}

void WakeDataWait(EmulatedPort& port) { CompleteFirst(port.Capture.DataWaits, ERROR_SUCCESS, {}); }

bool IsDirectionPaused(const EmulatedPort& port, uint8_t direction) {
    return IsPausedDirection(port.Capture, direction);
}

void KeepWrittenRecords(bool keep) {
    DriverGuard guard(DriverLock());
    Settings().KeepWritten = keep;
}

void SetDefaultTickFrequency(uint64_t ticksPerSecond) {
    DriverGuard guard(DriverLock());
    Settings().TickFrequency = ticksPerSecond;
}

}  // namespace emu
