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

// Writes records into a port's ring one after another and moves the write
// index once for all of them, after they are in place: the capture thread,
// which reads that index, then sees the batch at once, and the index's
// memory is not fought over once per byte. A paused direction's records are
// skipped; a full ring keeps its pending records and counts each new one as
// dropped (the read index is looked at again before a record is dropped).
class RingBatch {
public:
    explicit RingBatch(PortCapture& capture)
        : capture_(capture), ring_(capture.Ring), capacity_(UsableCapacity(capture)), write_(ring_->WriteIndex),
          free_(FreeSlots(capacity_, write_, ring_->ReadIndex)), keepWritten_(Settings().KeepWritten) {}

    void Add(const CapturedByte& byte) {
        if (IsPausedDirection(capture_, byte.Direction)) return;
        if (free_ == 0) {
            Publish();
            free_ = FreeSlots(capacity_, write_, ring_->ReadIndex);
        }
        if (free_ == 0) {
            ++capture_.Dropped;
            return;
        }
        CaptureRecord& record = RingRecords(ring_)[write_];
        uint64_t timestamp = byte.Timestamp & kTimestampMask;
        record.Data = byte.Data;
        record.Direction = byte.Direction;
        record.TimeLow = static_cast<uint16_t>(timestamp);
        record.TimeHigh = static_cast<uint32_t>(timestamp >> 16);
        write_ = write_ + 1 == capacity_ ? 0 : write_ + 1;
        --free_;
        unpublished_ = true;
        if (keepWritten_) capture_.Written.push_back(byte);
    }

    // Moves the write index past every record added so far.
    void Publish() {
        if (!unpublished_) return;
        MemoryBarrier();
        ring_->WriteIndex = write_;
        unpublished_ = false;
    }

private:
    PortCapture& capture_;
    CaptureRing* ring_;
    uint32_t capacity_;
    uint32_t write_;  // the slot of the next record
    uint32_t free_;   // slots known to be free from write_ on
    bool keepWritten_;
    bool unpublished_ = false;
};

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
    RingBatch batch(capture);
    for (char c : bytes) batch.Add(CapturedByte{static_cast<uint8_t>(c), direction, timestamp});
    batch.Publish();
    WakeForRecords(capture);
}

void RecordsPassed(EmulatedPort& port, const std::vector<CapturedByte>& records) {
    PortCapture& capture = port.Capture;
    if (!capture.Ring) return;
    RingBatch batch(capture);
    for (const CapturedByte& record : records) batch.Add(record);
    batch.Publish();
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
