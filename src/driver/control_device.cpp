#include "driver/control_device.h"

#include "driver/capture_options.h"
#include "wire/device_records.h"
#include "driver/device_request.h"
#include "driver/driver_config_record.h"
#include "wire/request_codes.h"
#include "driver/trace_api_result.h"
#include "system/system_calls.h"

namespace quorvel {

HANDLE ControlDevice = INVALID_HANDLE_VALUE;
HANDLE DeviceEvent = nullptr;

namespace {

const char kControlDeviceName[] = "\\\\.\\Quorvel";

void Trace(bool success, uint32_t line, const char* callName, DWORD error) {
    TraceApiResult(success ? 1 : 0, kServiceAccessSource, line, callName, error);
}

bool CanSend(HANDLE device) { return DeviceEvent && device != INVALID_HANDLE_VALUE; }

// Sends a request that has input only, with DeviceEvent, and traces it: a
// result at once as "DeviceIoControl" with the last error; a pending request
// whose wait fails as "DeviceIoControl" failing with ERROR_IO_PENDING; a
// pending request that completes as "GetOverlappedResult".
bool SendTraced(HANDLE device, uint32_t code, const void* input, DWORD inputSize) {
    OVERLAPPED overlapped;
    RequestStart start =
        StartRequest(device, code, input, inputSize, nullptr, 0, overlapped, DeviceEvent);
    if (start != RequestStart::Pending) {
        Trace(start == RequestStart::Completed, __LINE__, "DeviceIoControl", GetLastError());
        return start == RequestStart::Completed;
    }
    if (!AwaitRequestEvent(DeviceEvent)) {
        Trace(false, __LINE__, "DeviceIoControl", ERROR_IO_PENDING);
        return false;
    }
    bool ok = ReadRequestResult(device, overlapped, nullptr);
    Trace(ok, __LINE__, "GetOverlappedResult", 0);
    return ok;
}

}  // namespace

bool OpenControlDevice(HANDLE& device) {
    if (!LazyAutoResetEvent(DeviceEvent)) return false;
    HANDLE handle = seam::CreateFileA(kControlDeviceName, 0, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        device = handle;
        return true;
    }
    Trace(CloseHandle(DeviceEvent) != FALSE, __LINE__, "CloseHandle", 0);
    DeviceEvent = nullptr;
    return false;
}

void CloseControlDevice(HANDLE& device) {
    if (device == INVALID_HANDLE_VALUE) return;
    Trace(seam::CloseHandle(device) != FALSE, __LINE__, "CloseHandle", 0);
    device = INVALID_HANDLE_VALUE;
}

void ConfigureDriver(HANDLE device, const char* settingsText) {
    if (!CanSend(device)) return;
    // The record is built in the very buffer that receives the reply.
    DriverConfigRecord record{};
    record.Length = sizeof(DriverInfoReply);
    DWORD bytes = 0;
    if (!RunRequest(device, IOCTL_LINE_GET_DRIVER_INFO, nullptr, 0, &record,
                    sizeof(DriverInfoReply), DeviceEvent, &bytes) ||
        bytes < sizeof(DriverInfoReply)) {
        return;
    }
    CaptureOptions = ReplyOptions(record);
    WriteDriverConfig(record, settingsText);
    SendTraced(device, IOCTL_LINE_SET_CONFIG, &record, sizeof(record));
}

bool SetPersistentMode(HANDLE device, uint8_t persistentFlag, uint8_t* restartNeeded) {
    if (restartNeeded) *restartNeeded = 0;
    if (!CanSend(device)) return false;
    OVERLAPPED overlapped;
    RequestStart start = StartRequest(device, IOCTL_LINE_SET_PERSISTENT, &persistentFlag, 1,
                                      nullptr, 0, overlapped, DeviceEvent);
    DWORD error = GetLastError();
    Trace(start != RequestStart::Failed || error == ERROR_MEDIA_CHANGED, __LINE__,
          "DeviceIoControl", error);
    if (start == RequestStart::Pending) {
        // A pending request that later fails, with ERROR_MEDIA_CHANGED too,
        // asks for no restart: only the driver's answer at once does.
        if (!AwaitRequestEvent(DeviceEvent)) return false;
        return ReadRequestResult(device, overlapped, nullptr);
    }
    // The driver asks for a Windows restart.
    if (start == RequestStart::Failed && error == ERROR_MEDIA_CHANGED && restartNeeded) *restartNeeded = 1;
    return start == RequestStart::Completed;
}

void NotifyShutdown(HANDLE device, uint8_t value) {
    if (!CanSend(device)) return;
    SendTraced(device, IOCTL_LINE_SHUTDOWN, &value, 1);
}

}  // namespace quorvel
