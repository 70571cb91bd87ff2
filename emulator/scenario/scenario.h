// A scenario of the stand-in: which ports exist, when they come and go, and
// what happens on each of them over time. The parser builds it from the
// settings text (or a scenario file); the runner plays it on the driver
// thread. Times are milliseconds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu::scenario {

// Limits that keep any text, however long or odd, within a bounded effort.
constexpr uint64_t kMaxTimeMs = 86400000;      // one day: arrival, leave, event times, rounds
constexpr uint32_t kMaxGapMs = 60000;          // between two bytes of one rx/tx statement
constexpr size_t kMaxStatementLength = 4096;   // characters of one statement
constexpr size_t kMaxNoticeLength = 399;       // the notice buffer holds 400 bytes with the zero
constexpr size_t kMaxNameLength = 16;          // a port's name (COM1, COM12, ...)
constexpr size_t kMaxFriendlyNameLength = 256;
constexpr size_t kMaxPorts = 64;
constexpr size_t kMaxEvents = 8192;            // over all ports
constexpr size_t kMaxProblems = 50;            // problems kept; the rest are only counted
constexpr uint32_t kMaxColour = 255;
constexpr uint32_t kMaxRate = 1000000;         // generator bytes per second
constexpr uint32_t kMaxRunLength = 65536;      // generator bytes per run
constexpr uint32_t kMaxRounds = 1000000;
constexpr uint64_t kMinRoundMs = 10;           // a looping port waits at least this long per round
constexpr uint32_t kMaxFaultTimes = 1000;
constexpr size_t kMaxFileSize = 65536;         // bytes of a scenario file
constexpr size_t kMaxPathLength = 259;         // MAX_PATH without the terminator

// Direction codes of capture records.
constexpr uint8_t kReceived = 2;
constexpr uint8_t kTransmitted = 3;

enum class GeneratorDirection { Alternate, Received, Transmitted };

// Traffic made up on the fly: runs of RunLength bytes, each run passing at
// once, spaced so that the bytes average Rate per second.
struct Generator {
    uint32_t Rate = 0;
    uint32_t RunLength = 16;
    GeneratorDirection Direction = GeneratorDirection::Alternate;
    bool Endless = true;
    uint64_t DurationMs = 0;  // when not endless: runs start before this time
};

enum class EventKind { Bytes, Flash, Notice, Leave, Generate };

// One thing that happens on a port, at AtMs on the port's timeline (within a
// round when the port loops).
struct Event {
    EventKind Kind = EventKind::Bytes;
    uint64_t AtMs = 0;
    uint8_t Direction = kReceived;  // Bytes
    std::string Data;               // Bytes: the bytes; Notice: the text
    uint32_t GapMs = 0;             // Bytes: between two bytes; 0 = all at once
    uint32_t Colour = 0;            // Flash
    Generator Traffic;              // Generate
};

// Port kinds: a simulated modem (with its full properties, all of them
// empty, or a friendly name outside code page 1252), a port on a real
// serial line that quorvel-tap owns: a tap between an application and a
// device, or a sniffer of a line's two directions (which of the two, the
// tap's feed says), or the replay of a session that a tap captured. A
// watch is no port itself: the feed of quorvel-watch, whose ports come and
// go as the feed says.
enum class PortKind { Modem, Empty, Foreign, Tap, Sniff, Replay, Watch };

struct Port {
    std::string Name;             // COM1 ...
    uint32_t Number = 1;          // its trailing digits, or its place in the scenario
    PortKind Kind = PortKind::Modem;
    bool HasFriendlyName = false;
    std::string FriendlyName;     // code page 1252 bytes
    bool PropertiesFail = false;  // every property request for the port fails
    uint64_t ArriveMs = 0;        // since the scenario's start
    bool Leaves = false;
    uint64_t LeaveMs = 0;         // since the scenario's start
    std::vector<Event> Events;    // in the order written
    uint64_t RoundMs = 0;         // 0: the events happen once
    uint32_t Rounds = 1;          // with RoundMs: 0 = for ever
    // Tap: the folder of the tap's feed and command FIFOs, as Wine names
    // it; watch: the folder of its feed; replay: the capture file.
    std::string OtherName;
    bool ReplayAtMaxSpeed = false;  // replay: as fast as the monitor takes it, not at the file's pace
};

// A request of the control device that fails at once with Error, Times
// times (0 = every time).
struct Fault {
    uint32_t Code = 0;
    uint32_t Error = 0;
    uint32_t Times = 1;
};

// A statement that was skipped, and why.
struct Problem {
    std::string Where;  // "statement 3", "file line 7"
    std::string Message;
};

struct Scenario {
    std::vector<Port> Ports;
    std::vector<Fault> Faults;
    std::vector<Problem> Problems;  // at most kMaxProblems
    size_t ProblemCount = 0;        // all of them
};

}  // namespace emu::scenario
