#include "emulator/filter_driver.h"

#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "driver/request_codes.h"
#include "emulator/control_driver.h"
#include "emulator/device_core.h"
#include "emulator/driver_clock.h"
#include "port/capture_ring.h"
#include "port/port_control_records.h"

namespace emu {
namespace {

using namespace quorvel;

constexpr uint64_t kDefaultTickFrequency = 10000000;  // 100 ns ticks
constexpr uint64_t kTimestampMask = (uint64_t{1} << 48) - 1;

struct PortCapture {
    CaptureRing* Ring = nullptr;  // the program's ring while attached
    uint32_t Options = 0;
    std::deque<uint32_t> DataWaits;    // pending request ids
    std::deque<uint32_t> SignalWaits;
    std::deque<uint32_t> NoticeWaits;
    std::deque<uint32_t> Colours;      // flashes not yet delivered
    std::deque<std::string> Notices;   // notices not yet delivered
    uint64_t Dropped = 0;              // records that found the ring full
    bool TxPaused = false;             // transmitted bytes are not recorded
    bool RxPaused = false;             // received bytes are not recorded
    std::vector<control::CapturedByte> Written;  // kept for tests: what went into the ring
};

struct FilterState {
    std::map<uint32_t, PortCapture> Ports;
    uint64_t TickFrequency = kDefaultTickFrequency;
    bool KeepWritten = false;  // each port keeps the records written into its ring
};

FilterState& State() {
    static auto* state = new FilterState;  // never destroyed: the driver thread may run at exit
    return *state;
}

uint32_t KeyOf(const Request& request) { return RequestPortKey(request); }

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

bool IsPausedDirection(const PortCapture& port, uint8_t direction) {
    return (direction == kDirectionTx && port.TxPaused) || (direction == kDirectionRx && port.RxPaused);
}

// Writes one record unless its direction is paused or the ring is full; the
// write index moves on only after the record is in place. A full ring keeps
// its pending records and counts the new one as dropped.
void WriteRecord(PortCapture& port, const control::CapturedByte& byte) {
    if (IsPausedDirection(port, byte.Direction)) return;
    CaptureRing* ring = port.Ring;
    uint32_t capacity = ring->Capacity;
    uint32_t write = ring->WriteIndex;
    uint32_t next = write + 1 == capacity ? 0 : write + 1;
    if (write >= capacity || next == ring->ReadIndex) {
        ++port.Dropped;
        return;
    }
    CaptureRecord& record = RingRecords(ring)[write];
    uint64_t timestamp = byte.Timestamp & kTimestampMask;
    record.Data = byte.Data;
    record.Direction = byte.Direction;
    record.TimeLow = static_cast<uint16_t>(timestamp);
    record.TimeHigh = static_cast<uint32_t>(timestamp >> 16);
    MemoryBarrier();
    ring->WriteIndex = next;
    if (State().KeepWritten) port.Written.push_back(byte);
}

Reply AttachCapture(const Request& request) {
    if (request.Input.size() != sizeof(AttachRequest)) return Fail(ERROR_INVALID_PARAMETER);
    AttachRequest attach;
    std::memcpy(&attach, request.Input.data(), sizeof(attach));
    auto* ring = reinterpret_cast<CaptureRing*>(static_cast<uintptr_t>(attach.RingAddress));
    if (!ring || attach.RecordForm != 1) return Fail(ERROR_INVALID_PARAMETER);
    if (!PortExists(ring->PortKey)) return Fail(ERROR_DEV_NOT_EXIST);
    PortCapture& port = State().Ports[ring->PortKey];
    ring->TickFrequency = State().TickFrequency;
    port.Ring = ring;
    port.Options = attach.Options;
    return Succeed();
}

Reply DetachCapture(const Request& request) {
    auto found = State().Ports.find(KeyOf(request));
    if (found != State().Ports.end()) found->second.Ring = nullptr;
    return Succeed();
}

// Flips the pause of TX (first flag) and RX (second flag).
Reply TogglePause(const Request& request) {
    PortFlagsRecord record;
    DWORD error = 0;
    if (!ReadPortRecord(request, &record, &error)) return Fail(error);
    PortCapture& port = State().Ports[record.PortKey];
    if (record.First) port.TxPaused = !port.TxPaused;
    if (record.Second) port.RxPaused = !port.RxPaused;
    return Succeed();
}

Reply WaitData(const Request& request) {
    uint32_t key = KeyOf(request);
    if (!PortExists(key)) return EndedWithThePort(request);
    PortCapture& port = State().Ports[key];
    if (RecordsPending(port.Ring)) return Succeed();
    port.DataWaits.push_back(request.Id);
    return KeepPending();
}

Reply WaitSignal(const Request& request) {
    uint32_t key = KeyOf(request);
    if (!PortExists(key)) return EndedWithThePort(request);
    if (request.OutputSize < 4) return Fail(ERROR_INSUFFICIENT_BUFFER);
    PortCapture& port = State().Ports[key];
    if (!port.Colours.empty()) {
        uint32_t colour = port.Colours.front();
        port.Colours.pop_front();
        return Succeed(ColourBytes(colour));
    }
    port.SignalWaits.push_back(request.Id);
    return KeepPending();
}

Reply WaitNotice(const Request& request) {
    uint32_t key = KeyOf(request);
    if (!PortExists(key)) return EndedWithThePort(request);
    PortCapture& port = State().Ports[key];
    if (!port.Notices.empty()) {
        std::string text = port.Notices.front();
        port.Notices.pop_front();
        return Succeed(NoticeBytes(text, request.OutputSize));
    }
    port.NoticeWaits.push_back(request.Id);
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

void ForgetPortCapture(uint32_t portKey) {
    auto found = State().Ports.find(portKey);
    if (found == State().Ports.end()) return;
    PortCapture& port = found->second;
    CompleteAll(port.DataWaits, ERROR_OPERATION_ABORTED);
    CompleteAll(port.SignalWaits, ERROR_OPERATION_ABORTED);
    CompleteAll(port.NoticeWaits, ERROR_OPERATION_ABORTED);
    State().Ports.erase(found);
}

void ResetFilterDriver() {
    DriverGuard guard(DriverLock());
    State() = FilterState{};
}

namespace control {

void PushRecords(uint32_t portKey, const std::vector<CapturedByte>& bytes) {
    DriverGuard guard(DriverLock());
    auto found = State().Ports.find(portKey);
    if (found == State().Ports.end() || !found->second.Ring) return;
    PortCapture& port = found->second;
    for (const CapturedByte& byte : bytes) WriteRecord(port, byte);
    if (RecordsPending(port.Ring)) CompleteFirst(port.DataWaits, ERROR_SUCCESS, {});
}

void PushBytes(uint32_t portKey, uint8_t direction, const std::string& bytes) {
    uint64_t now = static_cast<uint64_t>(DriverClockMilliseconds() *
                                         static_cast<double>(State().TickFrequency) / 1000.0);
    std::vector<CapturedByte> records;
    for (char c : bytes) records.push_back(CapturedByte{static_cast<uint8_t>(c), direction, now});
    PushRecords(portKey, records);
}

void Flash(uint32_t portKey, uint32_t colourIndex) {
    DriverGuard guard(DriverLock());
    if (!PortExists(portKey)) return;
    PortCapture& port = State().Ports[portKey];
    if (!CompleteFirst(port.SignalWaits, ERROR_SUCCESS, ColourBytes(colourIndex))) {
        port.Colours.push_back(colourIndex);
    }
}

void SendNotice(uint32_t portKey, const std::string& text) {
    DriverGuard guard(DriverLock());
    if (!PortExists(portKey)) return;
    PortCapture& port = State().Ports[portKey];
    if (!CompleteFirst(port.NoticeWaits, ERROR_SUCCESS, NoticeBytes(text, 400))) {
        port.Notices.push_back(text);
    }
}

void WakeDataWait(uint32_t portKey) {
    DriverGuard guard(DriverLock());
    auto found = State().Ports.find(portKey);
    if (found != State().Ports.end()) CompleteFirst(found->second.DataWaits, ERROR_SUCCESS, {});
}

uint64_t DroppedRecords(uint32_t portKey) {
    DriverGuard guard(DriverLock());
    auto found = State().Ports.find(portKey);
    return found == State().Ports.end() ? 0 : found->second.Dropped;
}

bool IsCaptureAttached(uint32_t portKey) {
    DriverGuard guard(DriverLock());
    auto found = State().Ports.find(portKey);
    return found != State().Ports.end() && found->second.Ring != nullptr;
}

bool IsDirectionPaused(uint32_t portKey, uint8_t direction) {
    DriverGuard guard(DriverLock());
    auto found = State().Ports.find(portKey);
    return found != State().Ports.end() && IsPausedDirection(found->second, direction);
}

void KeepWrittenRecords(bool keep) {
    DriverGuard guard(DriverLock());
    State().KeepWritten = keep;
}

std::vector<CapturedByte> WrittenRecords(uint32_t portKey) {
    DriverGuard guard(DriverLock());
    auto found = State().Ports.find(portKey);
    return found == State().Ports.end() ? std::vector<CapturedByte>{} : found->second.Written;
}

void SetTickFrequency(uint64_t ticksPerSecond) {
    DriverGuard guard(DriverLock());
    State().TickFrequency = ticksPerSecond;
}

}  // namespace control
}  // namespace emu
