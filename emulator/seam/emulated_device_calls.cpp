// The stand-in's control device: the device half of the seam.
//
// "\\.\Quorvel" opens only while the stand-in's "Quorvel" service runs, and
// only with the arguments that the driver accepts: no access rights asked (its requests need
// none), no sharing, no security attributes, an existing device, normal
// attributes and overlapped, no template. Asking for access fails with
// ERROR_ACCESS_DENIED, any other argument with ERROR_INVALID_PARAMETER. Any
// other name, and any handle that is not a device handle, goes to the system.
#include <windows.h>

#include "emulator/kernel/device_core.h"
#include "emulator/kernel/service_table.h"
#include "emulator/runner/scenario_runner.h"
#include "system/system_calls.h"

namespace seam {

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    if (fileName && lstrcmpiA(fileName, "\\\\.\\Quorvel") == 0) {
        if (!emu::IsServiceRunning("Quorvel")) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (desiredAccess != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (shareMode != 0 || securityAttributes || creationDisposition != OPEN_EXISTING ||
            flagsAndAttributes != (FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED) || templateFile) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        emu::InstallScenarioRunner();  // the drivers behind the device, the runner behind its configuration
        return emu::OpenDevice(flagsAndAttributes);
    }
    return ::CreateFileA(fileName, desiredAccess, shareMode, securityAttributes,
                         creationDisposition, flagsAndAttributes, templateFile);
}

BOOL DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped) {
    if (!emu::IsDeviceHandle(device)) {
        return ::DeviceIoControl(device, controlCode, inBuffer, inBufferSize, outBuffer,
                                 outBufferSize, bytesReturned, overlapped);
    }
    return emu::IssueRequest(device, controlCode, inBuffer, inBufferSize, outBuffer,
                             outBufferSize, bytesReturned, overlapped);
}

BOOL CancelIo(HANDLE device) {
    if (!emu::IsDeviceHandle(device)) return ::CancelIo(device);
    return emu::CancelThreadRequests(device);
}

BOOL CloseHandle(HANDLE device) {
    if (!emu::IsDeviceHandle(device)) return ::CloseHandle(device);
    return emu::CloseDevice(device);
}

}  // namespace seam
