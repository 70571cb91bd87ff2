// The seam between the program and the drivers.
//
// Every call that reaches the service control manager or the control device
// goes through these functions; they carry the Win32 signatures. quorvel.exe
// links the real implementation (real_system_calls.cpp), which forwards to
// advapi32 and kernel32; quorvel-emu.exe links the driver stand-in under
// emulator/ instead. Nothing else of the Win32 API goes through here.
#pragma once

#include <windows.h>

namespace seam {

// Service control manager.
SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess);
SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess);
SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType,
                         DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                         LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                         LPCSTR password);
BOOL StartServiceA(SC_HANDLE service, DWORD argumentCount, LPCSTR* arguments);
BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL DeleteService(SC_HANDLE service);
BOOL CloseServiceHandle(SC_HANDLE handle);

// The control device "\\.\Quorvel".
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped);
BOOL CancelIo(HANDLE device);
BOOL CloseHandle(HANDLE device);

}  // namespace seam
