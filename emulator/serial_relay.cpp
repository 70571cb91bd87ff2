// How a relay works: one thread per relay owns its serial ports and every
// step on them. Each direction of the line is a small machine: it reads
// what has come from its source (or, when nothing has, waits for the next
// character), then hands the bytes to its sink and records them, and reads
// again only once the sink has taken them all. The two directions never
// wait for each other: the thread waits for whichever step ends first.
//
// Shared fields, with who writes and who reads them, are marked in Relay;
// they are touched only with the driver lock held. The thread takes that
// lock only after a byte is on its way to its sink, to record it.
#include "emulator/serial_relay.h"

#include <windows.h>

#include <string>
#include <vector>

#include "wire/port_property_records.h"
#include "emulator/command_channel.h"
#include "emulator/control_driver.h"
#include "emulator/device_core.h"
#include "emulator/filter_driver.h"
#include "emulator/port_catalog.h"
#include "emulator/serial_endpoint.h"
#include "wire/capture_records.h"
#include "system/scoped_handles.h"

namespace emu {
namespace {

using quorvel::kDirectionRx;
using quorvel::kDirectionTx;

constexpr DWORD kReopenMs = 1000;       // a failed port is tried again this often
constexpr DWORD kProbeMs = 1000;        // an idle relay checks its ports this often
constexpr DWORD kEndWriteMs = 2000;     // at the end, a write still under way gets this long
constexpr DWORD kStepEndMs = 1000;      // a cancelled step gets this long to end
constexpr DWORD kRelayEndMs = 10000;    // the relay thread gets this long to end at the stop
constexpr DWORD kReadChunk = 16384;

enum class Phase { Idle, Reading, Waiting, Writing };

struct SerialPort {
    std::string Name;
    quorvel::ScopedHandle Handle;
    DWORD ReportedError = 0;  // the last failure written to the debugger output
    bool Failed = false;      // it failed in this turn: nothing more is started on it until it is closed
    bool Open() const { return static_cast<bool>(Handle); }
    bool Usable() const { return Open() && !Failed; }
};

struct Direction {
    int Source = 0;
    int Sink = -1;  // -1: nothing is written (a sniffer)
    uint8_t Code = kDirectionTx;
    Phase Step = Phase::Idle;
    SerialStep Read;   // the read, or the wait for a character
    SerialStep Write;
    std::vector<char> Buffer = std::vector<char>(kReadChunk);
    std::string Outgoing;  // read and not yet all taken by the sink
    std::string Held;      // a tap's TX read while the program held the channel
    size_t Sent = 0;       // of Outgoing
    bool WokeUp = false;   // the last step was a character wait that ended
    std::string Unrecorded;  // passed on, not yet in the capture
    uint64_t Stamp = 0;      // when Unrecorded was read
};

struct Relay {
    scenario::Port Plan;
    bool Tap = true;
    quorvel::ScopedHandle Thread;
    quorvel::ScopedHandle Stop;  // manual reset: the relay ends
    // A step that did not end after its cancel may still write into this
    // record: written by the relay thread, read once it has ended, and the
    // record is then never freed.
    bool StepsLeftRunning = false;
    quorvel::ScopedHandle Wake;  // auto reset: the command channel changed
    uint64_t TickFrequency = 0;  // the performance counter's

    // With the driver lock held:
    uint32_t PortKey = 0;        // written by the relay thread at arrival and loss, cleared by
                                 // Release when the port leaves; read by the relay thread
    bool TerminalHolds = false;  // written by SetChannel (the program's request), read by the relay
    std::string Command;         // appended by Write (the program's request), taken by the relay

    // The relay thread's alone:
    SerialPort Ports[2];   // tap: device, application; sniffer: TX, RX
    Direction Lines[2];    // TX, then RX
};

// Every relay started and not yet ended; guarded by RelaysLock, which is
// never held while a relay's thread is waited for.
quorvel::ProcessLock& RelaysLock() {
    static quorvel::ProcessLock lock;
    return lock;
}

std::vector<Relay*>& Relays() {
    static auto* relays = new std::vector<Relay*>;  // never destroyed: relays may run at exit
    return *relays;
}

void Report(SerialPort& port, DWORD error, const char* what) {
    if (port.ReportedError == error) return;
    port.ReportedError = error;
    std::string line = "Quorvel stand-in relay: " + port.Name + " " + what + " (error " +
                       std::to_string(error) + ")\n";
    OutputDebugStringA(line.c_str());
}

uint64_t PerformanceCount() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

// ---- The port's side: arrival, loss, recording --------------------------

const LineOps& RelayLineOps();

void Arrive(Relay& relay) {
    ArrivingPort arriving;
    arriving.Blobs = PortBlobsFor(relay.Plan);
    arriving.Line = PortLine{&RelayLineOps(), &relay};
    arriving.TickFrequency = relay.TickFrequency;
    uint32_t key = ArrivePort(arriving);
    DriverGuard guard(DriverLock());
    relay.PortKey = key;
    relay.TerminalHolds = false;
    relay.Command.clear();
}

void Leave(Relay& relay) {
    uint32_t key = 0;
    {
        DriverGuard guard(DriverLock());
        key = relay.PortKey;
        relay.PortKey = 0;
        relay.TerminalHolds = false;
        relay.Command.clear();
    }
    if (key) LeavePort(key);
}

void Record(Relay& relay, uint8_t code, std::string_view bytes, uint64_t timestamp) {
    DriverGuard guard(DriverLock());
    if (EmulatedPort* port = FindPort(relay.PortKey)) BytesPassed(*port, code, bytes, timestamp);
}

// While the program holds the channel, what the device says is its answer.
bool AnswerToTerminal(Relay& relay, const Direction& line, std::string_view bytes, uint64_t timestamp) {
    if (!relay.Tap || line.Code != kDirectionRx) return false;
    DriverGuard guard(DriverLock());
    EmulatedPort* port = FindPort(relay.PortKey);
    if (!port || !relay.TerminalHolds) return false;
    ChannelReceives(*port, bytes, timestamp);
    return true;
}

bool TerminalHolds(Relay& relay) {
    DriverGuard guard(DriverLock());
    return relay.TerminalHolds;
}

std::string TakeCommand(Relay& relay) {
    DriverGuard guard(DriverLock());
    std::string command;
    command.swap(relay.Command);
    return command;
}

// ---- The line's side: the steps of each direction -------------------------

class RelayRun {
public:
    explicit RelayRun(Relay& relay) : relay_(relay) {}

    void Run();

private:
    SerialPort& SourceOf(Direction& line) { return relay_.Ports[line.Source]; }
    SerialPort* SinkOf(Direction& line) { return line.Sink < 0 ? nullptr : &relay_.Ports[line.Sink]; }
    bool AllOpen() const { return relay_.Ports[0].Usable() && relay_.Ports[1].Usable(); }

    bool OpenPorts();
    void Advance(Direction& line);
    void StartWriting(Direction& line);
    bool ReadSource(Direction& line);
    void TookBytes(Direction& line, DWORD count);
    void WaitForCharacter(Direction& line);
    void Passed(Direction& line, DWORD count);
    void Finished(Direction& line);
    void RecordPassed(Direction& line);
    bool MayRead(Direction& line);
    DWORD WaitForSteps(DWORD limit, Direction** owner);
    void Failed(SerialPort& port, DWORD error);
    void CloseFailed();
    bool ProbePorts();
    void End();
    bool FinishWriting(Direction& line);
    bool EndStep(SerialPort& port, SerialStep& step, Phase phase);

    Relay& relay_;
    bool present_ = false;  // the port has arrived and not left
    bool closing_ = false;  // ports are being closed: no new waits
    bool serving_ = false;  // steps that ended are served first: records wait
};

bool RelayRun::OpenPorts() {
    for (SerialPort& port : relay_.Ports) {
        if (port.Open()) continue;
        DWORD error = 0;
        port.Handle.Reset(OpenSerialPort(port.Name, relay_.Plan.Serial, &error));
        if (!port.Open()) Report(port, error, "cannot be opened; trying again every second");
        else port.ReportedError = 0;
    }
    return AllOpen();
}

// A direction reads when its source is open and its sink, if any, too; a
// tap's TX reads nothing while the program holds the channel, and sends
// the program's commands instead.
void RelayRun::Advance(Direction& line) {
    while (line.Step == Phase::Idle) {
        SerialPort* sink = SinkOf(line);
        if (!line.Outgoing.empty()) {
            if (!sink->Usable()) return;
            StartWriting(line);
            continue;
        }
        if (!SourceOf(line).Usable() || (sink && !sink->Usable())) return;
        if (!MayRead(line)) {  // the program holds the channel: its commands go instead
            line.Outgoing = TakeCommand(relay_);
            if (line.Outgoing.empty()) return;
            continue;
        }
        if (!line.Held.empty()) {  // the channel has closed: what waited goes first
            line.Outgoing.swap(line.Held);
            continue;
        }
        if (!ReadSource(line)) return;
    }
}

// Reads what has come from the direction's source; false when the read failed.
bool RelayRun::ReadSource(Direction& line) {
    SerialPort& source = SourceOf(line);
    StepResult read = StartRead(source.Handle.Get(), line.Read, line.Buffer.data(), kReadChunk);
    if (read == StepResult::Failed) {
        Failed(source, line.Read.Error);
        return false;
    }
    if (read == StepResult::Pending) line.Step = Phase::Reading;
    else TookBytes(line, line.Read.Count);
    return true;
}

void RelayRun::StartWriting(Direction& line) {
    SerialPort& sink = *SinkOf(line);
    const char* rest = line.Outgoing.data() + line.Sent;
    DWORD size = static_cast<DWORD>(line.Outgoing.size() - line.Sent);
    StepResult write = StartWrite(sink.Handle.Get(), line.Write, rest, size);
    if (write == StepResult::Pending) line.Step = Phase::Writing;
    else if (write == StepResult::Failed) Failed(sink, line.Write.Error);
    else Passed(line, line.Write.Count);
}

// A read ended with count bytes. None: wait for the next character, after
// a wait that woke for nothing first making sure that the port is still
// there. (Under Wine a character wait that directly follows a read that
// brought bytes ends about 10 ms late; an empty read between them avoids
// that, so the wait always follows one.) Some: on to the sink at once, then
// into the capture, stamped with the moment the read ended.
void RelayRun::TookBytes(Direction& line, DWORD count) {
    bool wokeForNothing = line.WokeUp && count == 0;
    line.WokeUp = false;
    if (wokeForNothing && !ProbePorts()) return;
    if (count == 0) return WaitForCharacter(line);
    uint64_t timestamp = PerformanceCount();
    std::string_view bytes(line.Buffer.data(), count);
    if (AnswerToTerminal(relay_, line, bytes, timestamp)) return;
    if (relay_.Tap && line.Code == kDirectionTx && TerminalHolds(relay_)) {
        // A read that was under way when the program took the channel:
        // its bytes wait with the rest of the application's.
        line.Held.append(bytes);
    } else if (SerialPort* sink = SinkOf(line)) {
        line.Outgoing.assign(bytes);
        line.Sent = 0;
        if (sink->Usable()) StartWriting(line);  // else it waits for the sink's return
    }
    RecordPassed(line);  // what an earlier read brought goes first
    line.Unrecorded.assign(bytes);
    line.Stamp = timestamp;
    if (!serving_) RecordPassed(line);
}

// A direction reads when its source and its sink, if any, are open; a
// tap's TX reads nothing while the program holds the command channel.
bool RelayRun::MayRead(Direction& line) {
    SerialPort* sink = SinkOf(line);
    if (!SourceOf(line).Usable() || (sink && !sink->Usable())) return false;
    return !(relay_.Tap && line.Code == kDirectionTx && TerminalHolds(relay_));
}

void RelayRun::RecordPassed(Direction& line) {
    if (line.Unrecorded.empty()) return;
    Record(relay_, line.Code, line.Unrecorded, line.Stamp);
    line.Unrecorded.clear();
}

void RelayRun::WaitForCharacter(Direction& line) {
    if (closing_) return;
    SerialPort& source = SourceOf(line);
    StepResult wait = StartCharacterWait(source.Handle.Get(), line.Read);
    if (wait == StepResult::Pending) line.Step = Phase::Waiting;
    else if (wait == StepResult::Failed) Failed(source, line.Read.Error);
    else line.WokeUp = true;
}

void RelayRun::Passed(Direction& line, DWORD count) {
    line.Sent += count;
    line.Step = Phase::Idle;
    if (line.Sent >= line.Outgoing.size()) {
        line.Outgoing.clear();
        line.Sent = 0;
    }
}

// The step of the direction whose event was signalled has ended.
void RelayRun::Finished(Direction& line) {
    bool writing = line.Step == Phase::Writing;
    SerialPort& port = writing ? *SinkOf(line) : SourceOf(line);
    SerialStep& step = writing ? line.Write : line.Read;
    StepResult result = FinishStep(port.Handle.Get(), step, false);
    if (result == StepResult::Pending) return;
    Phase was = line.Step;
    line.Step = Phase::Idle;
    if (was == Phase::Waiting) {
        // However it ended, a read tells; what it brings goes on at once.
        line.WokeUp = true;
        if (!closing_ && MayRead(line)) ReadSource(line);
        return;
    }
    if (result == StepResult::Failed) return Failed(port, step.Error);
    if (writing) Passed(line, step.Count);
    else TookBytes(line, step.Count);
}

void RelayRun::Failed(SerialPort& port, DWORD error) {
    Report(port, error, "failed; trying again every second");
    port.Failed = true;
}

// Closes the ports that failed. First every step still under way on them
// ends: a read that has brought bytes passes them on like any other, and
// what a write left unsent stays for the port's return.
void RelayRun::CloseFailed() {
    closing_ = true;
    for (int p = 0; p < 2; ++p) {
        SerialPort& port = relay_.Ports[p];
        if (!port.Failed) continue;
        for (Direction& line : relay_.Lines) {
            if (line.Step == Phase::Idle) continue;
            bool onThisPort = line.Step == Phase::Writing ? line.Sink == p : line.Source == p;
            if (!onThisPort) continue;
            SerialStep& step = line.Step == Phase::Writing ? line.Write : line.Read;
            Phase was = line.Step;
            if (!EndStep(port, step, was)) return;  // the relay stops (StepsLeftRunning)
            line.Step = Phase::Idle;
            if (was == Phase::Writing) Passed(line, step.Count);
            else if (was == Phase::Reading && step.Count > 0) TookBytes(line, step.Count);
        }
        port.Handle.Reset();
        port.Failed = false;
    }
    closing_ = false;
    if (present_ && !AllOpen()) {
        for (Direction& line : relay_.Lines) RecordPassed(line);
        present_ = false;
        Leave(relay_);
    }
}

// Ends a step under way on the port: a character wait by clearing the
// port's event mask (a cancel alone may leave it waiting on a port that has
// gone), any step by the cancel; then it gets a while to finish. False when
// it did not: its record may still be written, so the relay stops and its
// record is never freed.
bool RelayRun::EndStep(SerialPort& port, SerialStep& step, Phase phase) {
    HANDLE handle = port.Handle.Get();
    if (phase == Phase::Waiting) SetCommMask(handle, 0);
    CancelIo(handle);
    if (WaitForSingleObject(step.Event.Get(), kStepEndMs) != WAIT_OBJECT_0) {
        Report(port, WAIT_TIMEOUT, "left a step that did not end after its cancel; the relay stops");
        relay_.StepsLeftRunning = true;
        return false;
    }
    FinishStep(handle, step, false);
    return true;
}

// A port that has gone away can leave a read that returns nothing and a
// character wait that never ends; asking for its settings tells.
bool RelayRun::ProbePorts() {
    bool fine = true;
    for (SerialPort& port : relay_.Ports) {
        DCB dcb = {};
        dcb.DCBlength = sizeof(dcb);
        if (port.Usable() && !GetCommState(port.Handle.Get(), &dcb)) {
            Failed(port, GetLastError());
            fine = false;
        }
    }
    return fine;
}

void RelayRun::Run() {
    for (;;) {
        if (!present_) {
            if (OpenPorts()) {
                present_ = true;
                Arrive(relay_);
            } else {
                CloseFailed();
            }
        }
        for (Direction& line : relay_.Lines) {
            RecordPassed(line);
            Advance(line);
        }
        CloseFailed();
        if (relay_.StepsLeftRunning) break;
        Direction* owner = nullptr;
        DWORD which = WaitForSteps(present_ ? kProbeMs : kReopenMs, &owner);
        if (which == WAIT_TIMEOUT && present_) ProbePorts();
        // Every step that has ended is served before the bookkeeping (the
        // records, the next reads): bytes that have come go on first.
        serving_ = true;
        while (owner && !relay_.StepsLeftRunning) {
            Finished(*owner);
            CloseFailed();
            which = WaitForSteps(0, &owner);
        }
        serving_ = false;
        if (which == WAIT_OBJECT_0 || relay_.StepsLeftRunning) break;
    }
    End();
}

// Waits for the stop, the wake or a step of either direction to end; owner
// is the direction whose step it was, else null.
DWORD RelayRun::WaitForSteps(DWORD limit, Direction** owner) {
    HANDLE handles[4] = {relay_.Stop.Get(), relay_.Wake.Get()};
    Direction* owners[4] = {};
    DWORD count = 2;
    for (Direction& line : relay_.Lines) {
        if (line.Step == Phase::Idle) continue;
        owners[count] = &line;
        handles[count++] = line.Step == Phase::Writing ? line.Write.Event.Get() : line.Read.Event.Get();
    }
    DWORD which = WaitForMultipleObjects(count, handles, FALSE, limit);
    *owner = which >= WAIT_OBJECT_0 + 2 && which < WAIT_OBJECT_0 + count ? owners[which - WAIT_OBJECT_0] : nullptr;
    return which;
}

// The relay ends: reads stop, and whatever has been read (a stopped read's
// last bytes too, and what waited for the command channel) goes to its sink
// before the ports close. A sink that takes nothing for a while is given up,
// and so is everything once a step has not ended after its cancel.
void RelayRun::End() {
    closing_ = true;
    for (Direction& line : relay_.Lines) {
        if (line.Step == Phase::Writing && !relay_.StepsLeftRunning) FinishWriting(line);
    }
    for (Direction& line : relay_.Lines) {
        if (line.Step == Phase::Idle || relay_.StepsLeftRunning) continue;
        Phase was = line.Step;  // only reads and waits are left
        if (!EndStep(SourceOf(line), line.Read, was)) continue;
        line.Step = Phase::Idle;
        if (was == Phase::Reading && line.Read.Count > 0) TookBytes(line, line.Read.Count);
        if (line.Step == Phase::Writing) FinishWriting(line);
    }
    for (Direction& line : relay_.Lines) {
        line.Outgoing.append(line.Held);
        line.Held.clear();
        SerialPort* sink = SinkOf(line);
        // A write that fails at once marks its sink failed, which ends this.
        while (!relay_.StepsLeftRunning && !line.Outgoing.empty() && sink && sink->Usable() &&
               line.Step == Phase::Idle) {
            StartWriting(line);
            if (line.Step == Phase::Writing && !FinishWriting(line)) break;
        }
        RecordPassed(line);
    }
    if (present_) Leave(relay_);
    for (SerialPort& port : relay_.Ports) {
        port.Handle.Reset();
    }
}

// Waits (for a while) for the direction's write to end; false when the
// sink took nothing in that time and the write was given up.
bool RelayRun::FinishWriting(Direction& line) {
    if (WaitForSingleObject(line.Write.Event.Get(), kEndWriteMs) == WAIT_OBJECT_0) {
        Finished(line);
        return line.Step == Phase::Idle;
    }
    if (!EndStep(*SinkOf(line), line.Write, Phase::Writing)) return false;
    line.Step = Phase::Idle;
    Passed(line, line.Write.Count);
    return false;
}

DWORD WINAPI RelayThread(LPVOID parameter) {
    auto* relay = static_cast<Relay*>(parameter);
    RelayRun(*relay).Run();
    return 0;
}

// ---- The command channel's side ------------------------------------------

Relay& RelayOf(EmulatedPort& port) { return *static_cast<Relay*>(port.Line.Instance); }

bool SetChannel(EmulatedPort& port, bool open) {
    Relay& relay = RelayOf(port);
    if (!relay.Tap) return false;  // nothing is ever written to a sniffed line
    relay.TerminalHolds = open;
    if (!open) relay.Command.clear();
    SetEvent(relay.Wake.Get());
    return true;
}

uint32_t Write(EmulatedPort& port, const std::string& bytes) {
    Relay& relay = RelayOf(port);
    if (!relay.Tap || !relay.TerminalHolds) return 0;
    relay.Command += bytes;
    SetEvent(relay.Wake.Get());
    return static_cast<uint32_t>(bytes.size());
}

// The device keeps its own guard time; the program's word changes nothing.
void ConfirmEscape(EmulatedPort&) {}

void Release(EmulatedPort& port) {
    Relay& relay = RelayOf(port);
    if (relay.PortKey == port.Key) relay.PortKey = 0;
}

const LineOps& RelayLineOps() {
    static constexpr LineOps ops = {SetChannel, Write, ConfirmEscape, Release};
    return ops;
}

bool Prepare(Relay& relay) {
    relay.Stop.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    relay.Wake.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!relay.Stop || !relay.Wake) return false;
    for (Direction& line : relay.Lines) {
        if (!CreateStepEvent(line.Read) || !CreateStepEvent(line.Write)) return false;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    relay.TickFrequency = static_cast<uint64_t>(frequency.QuadPart);
    return true;
}

void EndAtExit() { EndSerialRelays(true); }

}  // namespace

void StartSerialRelay(const scenario::Port& plan) {
    auto* relay = new Relay;
    relay->Plan = plan;
    relay->Tap = plan.Kind == scenario::PortKind::Tap;
    // Tap: the device is port 0, the application's port 1; TX runs from
    // the application to the device. Sniffer: TX is read from port 0, RX
    // from port 1.
    relay->Ports[0].Name = relay->Tap ? plan.OtherName : plan.Name;
    relay->Ports[1].Name = relay->Tap ? plan.Name : plan.OtherName;
    relay->Lines[0].Code = kDirectionTx;
    relay->Lines[1].Code = kDirectionRx;
    relay->Lines[0].Source = relay->Tap ? 1 : 0;
    relay->Lines[1].Source = relay->Tap ? 0 : 1;
    relay->Lines[0].Sink = relay->Tap ? 0 : -1;
    relay->Lines[1].Sink = relay->Tap ? 1 : -1;
    if (!Prepare(*relay)) {
        OutputDebugStringA("Quorvel stand-in relay: out of system resources\n");
        delete relay;
        return;
    }
    static LONG exitHook = 0;
    if (!InterlockedExchange(&exitHook, 1)) atexit(EndAtExit);
    quorvel::ScopedLock<quorvel::ProcessLock> guard(RelaysLock());
    relay->Thread.Reset(CreateThread(nullptr, 0, RelayThread, relay, 0, nullptr));
    if (!relay->Thread) {
        delete relay;
        return;
    }
    Relays().push_back(relay);
}

void EndSerialRelays(bool wait) {
    std::vector<Relay*> ending;
    {
        quorvel::ScopedLock<quorvel::ProcessLock> guard(RelaysLock());
        for (Relay* relay : Relays()) SetEvent(relay->Stop.Get());
        if (!wait) return;  // they end on their own; the next wait frees them
        ending.swap(Relays());
    }
    for (Relay* relay : ending) {
        // Every step of a relay ends within a bounded time; a relay that is
        // still running after this wait, or whose steps may still write
        // into it, is left alone and never freed.
        if (WaitForSingleObject(relay->Thread.Get(), kRelayEndMs) == WAIT_OBJECT_0 && !relay->StepsLeftRunning) {
            delete relay;
        }
    }
}

}  // namespace emu
