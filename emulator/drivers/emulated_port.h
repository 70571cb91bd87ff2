// One emulated serial port of the stand-in, in one record: what the control
// driver reports of it (its properties), what the filter records of it (its
// capture), the command channel that the program may open on it, and its
// line: what sits at the far end of the port.
//
// The line is a small table of operations and an instance that only the
// line's own file knows. A simulated modem is one kind of line, a relay to a
// real serial device another; a new kind of port is a file of its own that
// fills in the table.
//
// Every record lives in the port table and is touched only with the driver
// lock held: the program's requests, the driver thread and the threads of
// the lines (a tap's feed, a replay) all take that lock before they look at
// a port.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "emulator/kernel/device_core.h"

namespace quorvel {
struct CaptureRing;
}

namespace emu {

struct EmulatedPort;

// The 19 property blobs of a port, indexed as in the property header.
struct PortBlobs {
    std::vector<uint8_t> Properties[19];
};

// One byte that passes a port, with its direction code (2 received, 3
// transmitted) and its timestamp in driver ticks (48 bits are kept).
struct CapturedByte {
    uint8_t Data;
    uint8_t Direction;
    uint64_t Timestamp;
};

// What the program's command channel asks of the line. Called with the
// driver lock held; none of them may wait for the line itself.
struct LineOps {
    // The channel opens (true) or closes; false refuses an opening.
    bool (*SetChannel)(EmulatedPort& port, bool open);
    // Bytes the program wrote through the open channel; returns how many the
    // line took.
    uint32_t (*Write)(EmulatedPort& port, const std::string& bytes);
    // The program's word that the guard time after "+++" has passed.
    void (*ConfirmEscape)(EmulatedPort& port);
    // The port leaves: the line gives up what it keeps for this port.
    void (*Release)(EmulatedPort& port);
    // The line records the program's command bytes itself, when and as they
    // reach the line (a tap's do, on its own clock); otherwise the channel
    // records them as it takes them.
    bool RecordsCommands = false;
};

struct PortLine {
    const LineOps* Ops = nullptr;
    void* Instance = nullptr;  // the line's own state, known only to its file
};

// What the filter keeps of a port: the ring that the program lent it, the
// program's pending waits, what waits for the next wait, and its counts.
struct PortCapture {
    quorvel::CaptureRing* Ring = nullptr;  // the program's ring while attached
    uint32_t Capacity = 0;  // the ring's slots at the attach, all found writable then
    uint32_t Options = 0;
    std::deque<uint32_t> DataWaits;    // pending request ids
    std::deque<uint32_t> SignalWaits;
    std::deque<uint32_t> NoticeWaits;
    std::deque<uint32_t> Colours;      // flashes not yet delivered
    std::deque<std::string> Notices;   // notices not yet delivered
    uint64_t Dropped = 0;              // records that found the ring full
    bool TxPaused = false;             // transmitted bytes are not recorded
    bool RxPaused = false;             // received bytes are not recorded
    std::vector<CapturedByte> Written;  // kept for tests: what went into the ring
};

// The channel through which the program talks to what is at the far end.
struct CommandChannel {
    bool Open = false;
    std::string Unread;  // what the far end answered and the program has not read
};

struct EmulatedPort {
    uint32_t Key = 0;
    PortBlobs Blobs;
    bool RefusesProperties = false;  // every property request fails
    uint64_t TickFrequency = 0;      // of its timestamps; 0: the driver's setting
    PortCapture Capture;
    CommandChannel Channel;
    PortLine Line;
};

// The port table. With the driver lock held.
EmulatedPort* FindPort(uint32_t portKey);
EmulatedPort& InsertPort(uint32_t portKey);
void ErasePort(uint32_t portKey);
// Every port's record, in key order (for a fresh driver to take apart).
std::vector<EmulatedPort*> AllPorts();

// Runs the action on the port's record with the driver lock held, if the
// port is present.
template <typename Action>
void WithPort(uint32_t portKey, Action&& action) {
    DriverGuard guard(DriverLock());
    if (EmulatedPort* port = FindPort(portKey)) action(*port);
}

// The fixed input record of a per-port request, for a port that is present.
// False with the error to fail with: a record of another size, or no such
// port. Call with the driver lock held.
template <typename Record>
bool ReadPortRecord(const Request& request, Record* record, DWORD* error) {
    if (request.Input.size() != sizeof(Record)) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (!FindPort(RequestPortKey(request))) {
        *error = ERROR_DEV_NOT_EXIST;
        return false;
    }
    std::memcpy(record, request.Input.data(), sizeof(Record));
    return true;
}

}  // namespace emu
