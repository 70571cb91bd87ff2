#include "emulator/lines/tap_commands.h"

#include "emulator/formats/tap_feed.h"
#include "system/scoped_handles.h"

namespace emu {
namespace {

constexpr DWORD kCommandWriteMs = 1000;  // a command record gets this long to go into its FIFO
constexpr DWORD kCancelEndMs = 2000;     // a cancelled write gets this long to end

// One write into the command FIFO, on the heap: a write that does not end
// after its cancel keeps its memory for good.
struct CommandWrite {
    std::string Record;
    OVERLAPPED Overlapped = {};
    quorvel::ScopedHandle Event;
};

}  // namespace

bool SendCommand(HANDLE fifo, tapfeed::CommandKind kind, const std::string& payload) {
    auto* write = new CommandWrite;
    write->Record = tapfeed::CommandRecord(kind, payload);
    write->Event.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    write->Overlapped.hEvent = write->Event.Get();
    DWORD size = static_cast<DWORD>(write->Record.size());
    DWORD written = 0;
    bool done = write->Event && WriteFile(fifo, write->Record.data(), size, &written, &write->Overlapped);
    if (!done && write->Event && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(write->Event.Get(), kCommandWriteMs) != WAIT_OBJECT_0) {
            CancelIo(fifo);
            if (WaitForSingleObject(write->Event.Get(), kCancelEndMs) != WAIT_OBJECT_0) return false;  // kept
        }
        done = GetOverlappedResult(fifo, &write->Overlapped, &written, FALSE) != FALSE;
    }
    delete write;
    return done && written == size;
}

}  // namespace emu
