#include "emulator/lines/running_lines.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "emulator/drivers/control_driver.h"
#include "emulator/lines/port_catalog.h"

namespace emu {
namespace {

constexpr DWORD kLineEndMs = 5000;  // a line's thread gets this long to end at the stop

// Every line started and not yet ended; guarded by LinesLock, which is never
// held while a line's thread is waited for.
quorvel::ProcessLock& LinesLock() {
    static quorvel::ProcessLock lock;
    return lock;
}

std::vector<RunningLine*>& Lines() {
    static auto* lines = new std::vector<RunningLine*>;  // never destroyed: lines may run at exit
    return *lines;
}

DWORD WINAPI LineThread(LPVOID parameter) {
    static_cast<RunningLine*>(parameter)->Run();
    return 0;
}

void EndAtExit() { EndRunningLines(true); }

}  // namespace

void ArriveLinePort(const PortBlobs& blobs, const LineOps* ops, void* instance, uint32_t* key) {
    ArrivingPort arriving;
    arriving.Blobs = blobs;
    arriving.Line = PortLine{ops, instance};
    arriving.TickFrequency = 1000000;
    uint32_t arrived = ArrivePort(arriving);
    DriverGuard guard(DriverLock());
    *key = arrived;
}

void LeaveLinePort(uint32_t* key) {
    uint32_t leaving = 0;
    {
        DriverGuard guard(DriverLock());
        leaving = *key;
        *key = 0;
    }
    if (leaving) LeavePort(leaving);
}

void RunningLine::ArriveAsPort(const scenario::Port& plan, const LineOps* ops, void* instance) {
    ArriveLinePort(PortBlobsFor(plan), ops, instance, &PortKey);
}

void RunningLine::LeaveAsPort() { LeaveLinePort(&PortKey); }

void StartRunningLine(RunningLine* line) {
    line->Stop.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!line->Stop) {
        OutputDebugStringA("Quorvel stand-in line: out of system resources\n");
        delete line;
        return;
    }
    static LONG exitHook = 0;
    if (!InterlockedExchange(&exitHook, 1)) atexit(EndAtExit);
    quorvel::ScopedLock<quorvel::ProcessLock> guard(LinesLock());
    line->Thread.Reset(CreateThread(nullptr, 0, LineThread, line, 0, nullptr));
    if (!line->Thread) {
        delete line;
        return;
    }
    Lines().push_back(line);
}

void EndRunningLines(bool wait) {
    std::vector<RunningLine*> ending;
    {
        quorvel::ScopedLock<quorvel::ProcessLock> guard(LinesLock());
        for (RunningLine* line : Lines()) SetEvent(line->Stop.Get());
        if (!wait) return;
        ending.swap(Lines());
    }
    for (RunningLine* line : ending) {
        // A line ends within a bounded time; one still running after this
        // wait, or whose read may still write into it, is never freed.
        if (WaitForSingleObject(line->Thread.Get(), kLineEndMs) == WAIT_OBJECT_0 && !line->ReadLeftRunning) {
            delete line;
        }
    }
}

}  // namespace emu
