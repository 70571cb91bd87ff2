// The lines of the stand-in that run on a thread of their own: a tap's or a
// watch's feed (feed_line.h) and a replayed capture (replay_line.h). Each is
// started here, and all of them end together: when a scenario gives way to
// another, when the driver is reset, and at exit.
#pragma once

#include <cstdint>

#include "emulator/drivers/emulated_port.h"
#include "emulator/scenario/scenario.h"
#include "system/scoped_handles.h"

namespace emu {

struct RunningLine {
    virtual ~RunningLine() = default;
    // The line's work, on its thread, until Stop is signalled or it is done.
    virtual void Run() = 0;

    // The line's port arrives (its thread calls this): its properties from
    // the plan, its times in microseconds, the line's operations on the
    // instance, the line as its own type.
    void ArriveAsPort(const scenario::Port& plan, const LineOps* ops, void* instance);
    // The port leaves, if it is there (its thread calls this).
    void LeaveAsPort();

    // With the driver lock held: written by the thread at the arrival and
    // the end, cleared by the line's Release when the port goes otherwise.
    uint32_t PortKey = 0;

    quorvel::ScopedHandle Thread;
    quorvel::ScopedHandle Stop;  // manual reset: the line ends
    // A read that did not end after its cancel may still write into the
    // line: written by its thread, read once it has ended; the line is then
    // never freed.
    bool ReadLeftRunning = false;
};

// A port of a line arrives (the line's thread calls this): its properties,
// its times in microseconds, the line's operations on the instance. Its key
// goes into *key with the driver lock held: the line's Release clears it
// there when the port goes otherwise.
void ArriveLinePort(const PortBlobs& blobs, const LineOps* ops, void* instance, uint32_t* key);
// The port whose key *key holds leaves, if it is there, and *key is
// cleared (the line's thread calls this).
void LeaveLinePort(uint32_t* key);

// Starts the line's thread; the line is the registry's from here on (and
// is deleted at once when its thread cannot start).
void StartRunningLine(RunningLine* line);

// Ends every running line: each stops and its port leaves. With wait,
// returns once they have (never call it so with the driver lock held: the
// lines take it); without, they end on their own and the next wait frees
// them.
void EndRunningLines(bool wait);

}  // namespace emu
