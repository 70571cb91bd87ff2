// What the device keeps of its requests besides their life: the faults
// armed for a request code (by a scenario or a test) and the log of every
// request with its outcome, which the tests read.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace emu {

struct RequestFault {
    enum class Kind {
        FailAtOnce,        // the call fails with Error, nothing pends
        FailAfterPending,  // the call pends, then completes with Error after DelayMs
        CompleteLater,     // a request the driver would complete at once pends for DelayMs
        ReplySizeDelta,    // the reported byte count is off by SizeDelta
    };
    Kind FaultKind = Kind::FailAtOnce;
    DWORD Error = ERROR_GEN_FAILURE;
    DWORD DelayMs = 20;
    int32_t SizeDelta = 0;
    uint32_t Times = 1;  // how many requests it hits; 0 = every one
};

struct LoggedRequest {
    enum class Outcome { CompletedAtOnce, FailedAtOnce, Pending, CompletedLater };
    uint32_t Sequence = 0;
    uint32_t Code = 0;
    DWORD ThreadId = 0;
    HANDLE Device = nullptr;
    std::vector<uint8_t> Input;
    DWORD OutputSize = 0;
    Outcome Result = Outcome::Pending;
    DWORD Error = 0;          // Win32 error of the outcome; 0 = success
    DWORD BytesReturned = 0;  // bytes reported at completion
};

}  // namespace emu
