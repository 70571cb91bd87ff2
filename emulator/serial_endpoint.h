// One end of a relay: a serial port that Wine maps to a Unix device (a
// link comN in the prefix's dosdevices folder to /dev/ttyUSB0, or to one
// end of a pty pair), opened overlapped, and read the way that works under
// Wine: a read returns at once with what has come, and when nothing has, a
// wait for the next received character says when to read again.
//
// Used by one thread only: the relay's own. Nothing here takes the driver
// lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "emulator/scenario.h"
#include "system/scoped_handles.h"

namespace emu {

// Opens "\\.\NAME" with the line settings: binary, no flow control of any
// kind (every byte value passes), reads that return at once with what has
// come, writes without time limit, and the wait for received characters.
// INVALID_HANDLE_VALUE with *error (a Win32 error) when the port cannot be
// opened or refuses a setting; nothing stays open then.
HANDLE OpenSerialPort(const std::string& name, const scenario::SerialSettings& settings, DWORD* error);

// The outcome of starting or finishing an overlapped step.
enum class StepResult { Done, Pending, Failed };

// An overlapped step of its own, with its event (manual reset).
struct SerialStep {
    OVERLAPPED Overlapped = {};
    quorvel::ScopedHandle Event;
    DWORD Count = 0;      // bytes moved by a finished read or write
    DWORD Error = 0;      // of a failed step
    DWORD EventMask = 0;  // the output of a character wait
};

bool CreateStepEvent(SerialStep& step);

// A read of at most size bytes that returns at once with what has come.
StepResult StartRead(HANDLE port, SerialStep& step, char* buffer, DWORD size);
// A wait until a character has come (it may also end early; the next read
// tells).
StepResult StartCharacterWait(HANDLE port, SerialStep& step);
// A write of the bytes; it ends when the port has taken them all.
StepResult StartWrite(HANDLE port, SerialStep& step, const char* bytes, DWORD size);
// The result of a step that was pending, once its event is signalled (or,
// with wait, whenever it ends).
StepResult FinishStep(HANDLE port, SerialStep& step, bool wait);

}  // namespace emu
