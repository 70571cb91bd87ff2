#include "emulator/serial_endpoint.h"

namespace emu {
namespace {

BYTE ParityCode(char parity) {
    switch (parity) {
        case 'O': return ODDPARITY;
        case 'E': return EVENPARITY;
        case 'M': return MARKPARITY;
        case 'S': return SPACEPARITY;
        default: return NOPARITY;
    }
}

BYTE StopBitsCode(uint8_t tenths) {
    return tenths == 15 ? ONE5STOPBITS : tenths == 20 ? TWOSTOPBITS : ONESTOPBIT;
}

bool Configure(HANDLE port, const scenario::SerialSettings& settings) {
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb)) return false;
    dcb.BaudRate = settings.Baud;
    dcb.ByteSize = settings.DataBits;
    dcb.Parity = ParityCode(settings.Parity);
    dcb.StopBits = StopBitsCode(settings.StopBits);
    // A relay passes bytes, all of them: no XON/XOFF, no hardware flow
    // control (a pty has no modem lines), no byte dropped or replaced.
    dcb.fBinary = TRUE;
    dcb.fParity = settings.Parity != 'N';
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb)) return false;
    // Reads return at once with what has come; writes have no time limit.
    // (Under Wine, a read with a total time-out does not return small
    // amounts early.)
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    return SetCommTimeouts(port, &timeouts) && SetCommMask(port, EV_RXCHAR);
}

StepResult Started(BOOL done, HANDLE port, SerialStep& step) {
    if (done) return FinishStep(port, step, false);
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) return StepResult::Pending;
    step.Error = error;
    return StepResult::Failed;
}

void Prepare(SerialStep& step) {
    HANDLE event = step.Event.Get();
    step.Overlapped = OVERLAPPED{};
    step.Overlapped.hEvent = event;
    step.Count = 0;
    step.Error = 0;
    ResetEvent(event);
}

}  // namespace

HANDLE OpenSerialPort(const std::string& name, const scenario::SerialSettings& settings, DWORD* error) {
    std::string path = "\\\\.\\" + name;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return INVALID_HANDLE_VALUE;
    }
    if (!Configure(port, settings)) {
        *error = GetLastError();
        CloseHandle(port);
        return INVALID_HANDLE_VALUE;
    }
    // No purge: bytes that came before the relay opened the port are the
    // line's too, and they pass like the rest.
    return port;
}

bool CreateStepEvent(SerialStep& step) {
    step.Event.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return static_cast<bool>(step.Event);
}

StepResult StartRead(HANDLE port, SerialStep& step, char* buffer, DWORD size) {
    Prepare(step);
    return Started(ReadFile(port, buffer, size, nullptr, &step.Overlapped), port, step);
}

StepResult StartCharacterWait(HANDLE port, SerialStep& step) {
    Prepare(step);
    step.EventMask = 0;
    return Started(WaitCommEvent(port, &step.EventMask, &step.Overlapped), port, step);
}

StepResult StartWrite(HANDLE port, SerialStep& step, const char* bytes, DWORD size) {
    Prepare(step);
    return Started(WriteFile(port, bytes, size, nullptr, &step.Overlapped), port, step);
}

StepResult FinishStep(HANDLE port, SerialStep& step, bool wait) {
    DWORD count = 0;
    if (GetOverlappedResult(port, &step.Overlapped, &count, wait ? TRUE : FALSE)) {
        step.Count = count;
        return StepResult::Done;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return StepResult::Pending;
    step.Count = count;
    step.Error = error;
    return StepResult::Failed;
}

}  // namespace emu
