// The real side of the seam: forwards every call to the system.
#include "system/system_calls.h"

namespace seam {

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess) {
    return ::OpenSCManagerA(machineName, databaseName, desiredAccess);
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
    return ::OpenServiceA(manager, serviceName, desiredAccess);
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType,
                         DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                         LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                         LPCSTR password) {
    return ::CreateServiceA(manager, serviceName, displayName, desiredAccess, serviceType,
                            startType, errorControl, binaryPathName, loadOrderGroup, tagId,
                            dependencies, serviceStartName, password);
}

BOOL StartServiceA(SC_HANDLE service, DWORD argumentCount, LPCSTR* arguments) {
    return ::StartServiceA(service, argumentCount, arguments);
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    return ::QueryServiceStatus(service, status);
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    return ::ControlService(service, control, status);
}

BOOL DeleteService(SC_HANDLE service) { return ::DeleteService(service); }

BOOL CloseServiceHandle(SC_HANDLE handle) { return ::CloseServiceHandle(handle); }

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileA(fileName, desiredAccess, shareMode, securityAttributes,
                         creationDisposition, flagsAndAttributes, templateFile);
}

BOOL DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped) {
    return ::DeviceIoControl(device, controlCode, inBuffer, inBufferSize, outBuffer,
                             outBufferSize, bytesReturned, overlapped);
}

BOOL CancelIo(HANDLE device) { return ::CancelIo(device); }

BOOL CloseHandle(HANDLE device) { return ::CloseHandle(device); }

}  // namespace seam
