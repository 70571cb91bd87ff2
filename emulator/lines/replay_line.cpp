// How a replay works: one thread reads the whole file, lets its port arrive
// and waits for the capture's attach, then passes each packet into the port
// at its time (the file's first packet at the attach), or, at the highest
// speed, as soon as the ring has room for it. It takes the driver lock for
// one packet at a time.
#include "emulator/lines/replay_line.h"

#include <windows.h>

#include <string>
#include <vector>

#include "emulator/drivers/control_driver.h"
#include "emulator/kernel/device_core.h"
#include "emulator/drivers/filter_driver.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/lines/running_lines.h"
#include "emulator/formats/serial_capture.h"
#include "wire/capture_records.h"

namespace emu {
namespace {

constexpr DWORD kLookMs = 5;                  // the attach and the ring's room are looked at this often
constexpr DWORD kMostFileBytes = 256u << 20;  // a larger file is refused
constexpr uint8_t kEventCodes[2] = {4, 5};    // as a tap's: each event a line of its own

struct ReplayLine : RunningLine {
    void Run() override;

    scenario::Port Plan;    // written before the thread starts
    uint8_t NextEventCode = 0;
};

ReplayLine& LineOf(EmulatedPort& port) { return *static_cast<ReplayLine*>(port.Line.Instance); }
bool SetChannel(EmulatedPort&, bool) { return false; }  // a replay has no line to talk to
uint32_t Write(EmulatedPort&, const std::string&) { return 0; }
void ConfirmEscape(EmulatedPort&) {}
void Release(EmulatedPort& port) {
    if (LineOf(port).PortKey == port.Key) LineOf(port).PortKey = 0;
}
constexpr LineOps kReplayLineOps = {SetChannel, Write, ConfirmEscape, Release, true};

// The file's bytes; false with *problem when it cannot be read whole.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = "the file cannot be opened (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    bool read = high == 0 && size <= kMostFileBytes;
    if (!read) *problem = "the file is larger than 256 MiB";
    bytes->resize(size);
    DWORD count = 0;
    if (read && size > 0 && (!ReadFile(file, bytes->data(), size, &count, nullptr) || count != size)) {
        *problem = "the file cannot be read (error " + std::to_string(GetLastError()) + ")";
        read = false;
    }
    CloseHandle(file);
    return read;
}

// Pumps: false once the stop came.
bool Pause(ReplayLine& line, DWORD ms) { return WaitForSingleObject(line.Stop.Get(), ms) == WAIT_TIMEOUT; }

// Waits until the port's capture is attached; false when the stop came or the port went.
bool AwaitAttach(ReplayLine& line) {
    for (;;) {
        {
            DriverGuard guard(DriverLock());
            EmulatedPort* port = FindPort(line.PortKey);
            if (!port) return false;
            if (port->Capture.Ring) return true;
        }
        if (!Pause(line, kLookMs)) return false;
    }
}

// Whether the port's ring has room for count more records (always, without a ring).
bool RingHasRoom(ReplayLine& line, size_t count) {
    DriverGuard guard(DriverLock());
    EmulatedPort* port = FindPort(line.PortKey);
    const quorvel::CaptureRing* ring = port ? port->Capture.Ring : nullptr;
    if (!ring || ring->Capacity == 0) return true;
    uint32_t pending = (ring->WriteIndex + ring->Capacity - ring->ReadIndex) % ring->Capacity;
    return pending + count < ring->Capacity;
}

// One line into the port: bytes (TX, RX) or an event's text.
void Pass(ReplayLine& line, uint8_t code, const std::string& bytes, uint64_t microseconds) {
    DriverGuard guard(DriverLock());
    if (EmulatedPort* port = FindPort(line.PortKey)) BytesPassed(*port, code, bytes, microseconds);
}

void PassEvent(ReplayLine& line, const std::string& text, uint64_t microseconds) {
    if (text.empty()) return;
    Pass(line, kEventCodes[line.NextEventCode], text, microseconds);
    line.NextEventCode ^= 1;
}

// Plays the packets at their times; false once the stop came.
bool Play(ReplayLine& line, const std::vector<serialcapture::CapturedPacket>& packets) {
    if (packets.empty()) return true;
    uint64_t first = packets.front().Microseconds;
    DWORD start = GetTickCount();
    uint8_t lines = 0;
    bool linesKnown = false;
    for (const serialcapture::CapturedPacket& packet : packets) {
        uint64_t at = packet.Microseconds >= first ? packet.Microseconds - first : 0;
        if (line.Plan.ReplayAtMaxSpeed) {
            while (!RingHasRoom(line, packet.Payload.size() + 64)) {
                if (!Pause(line, kLookMs)) return false;
            }
        } else {
            DWORD due = static_cast<DWORD>(at / 1000);
            DWORD passed = GetTickCount() - start;
            if (due > passed && !Pause(line, due - passed)) return false;
        }
        if (packet.Event == serialcapture::kTxData || packet.Event == serialcapture::kRxData) {
            uint8_t code = packet.Event == serialcapture::kTxData ? quorvel::kDirectionTx : quorvel::kDirectionRx;
            Pass(line, code, packet.Payload, at);
            continue;
        }
        PassEvent(line, packet.Payload.empty() ? serialcapture::EventText(packet.Event, packet.Lines, lines, linesKnown)
                                               : packet.Payload, at);
        if (packet.Event == serialcapture::kStatusChange) {
            lines = packet.Lines;
            linesKnown = true;
        }
    }
    return true;
}

void ReplayLine::Run() {
    std::vector<uint8_t> bytes;
    std::string problem;
    serialcapture::CaptureFile file;
    if (ReadWholeFile(Plan.OtherName, &bytes, &problem)) {
        file = serialcapture::ReadCapture(bytes.data(), bytes.size());
        problem = file.Problem;
    }
    ArriveAsPort(Plan, &kReplayLineOps, this);  // its times: the file's microseconds
    if (AwaitAttach(*this) && Play(*this, file.Packets) && !problem.empty()) {
        std::string text = "[replay of " + Plan.OtherName + " stops: " + problem + "]";
        OutputDebugStringA(("Quorvel stand-in " + text + "\n").c_str());
        uint64_t last = file.Packets.empty() ? 0 : file.Packets.back().Microseconds - file.Packets.front().Microseconds;
        PassEvent(*this, text, last);
    }
    WaitForSingleObject(Stop.Get(), INFINITE);  // the port stays until the scenario ends
    LeaveAsPort();
}

}  // namespace

void StartReplayLine(const scenario::Port& plan) {
    auto* line = new ReplayLine;
    line->Plan = plan;
    StartRunningLine(line);
}

}  // namespace emu
