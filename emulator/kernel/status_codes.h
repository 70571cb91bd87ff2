// Completion statuses as the system puts them into an OVERLAPPED record.
//
// The stand-in decides outcomes as Win32 errors and stores them as NTSTATUS
// values that the system's GetOverlappedResult turns back into the same
// errors: cancellation is STATUS_CANCELLED (read back as
// ERROR_OPERATION_ABORTED); any other error e is stored as 0xC0010000 | e,
// the status form that carries a Win32 error code unchanged.
#pragma once

#include <windows.h>

#include <cstdint>

namespace emu {

using NtStatus = uint32_t;

constexpr NtStatus kStatusSuccess = 0x00000000;
constexpr NtStatus kStatusPending = 0x00000103;
constexpr NtStatus kStatusCancelled = 0xC0000120;

constexpr NtStatus StatusFromError(DWORD error) {
    if (error == ERROR_SUCCESS) return kStatusSuccess;
    if (error == ERROR_OPERATION_ABORTED) return kStatusCancelled;
    return 0xC0010000u | (error & 0xFFFFu);
}

}  // namespace emu
