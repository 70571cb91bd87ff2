#include "ui/command_terminal.h"

#include <cstring>

#include "port/driver_notice.h"
#include "port/port_control.h"
#include "system/scoped_handles.h"
#include "ui/sent_message_wait.h"
#include "ui/terminal_edits.h"
#include "ui/terminal_text.h"

namespace quorvel {

PortMonitor* CommandPort = nullptr;
bool ResponseMode = false;
uint32_t ResponseTicks = 0;
char ResponseText[kResponseTextSize] = {};

namespace {

void EnableEdits(HWND mainWindow, bool enable) {
    EnableWindow(CommandEdit(mainWindow), enable ? TRUE : FALSE);
    EnableWindow(ResponseEdit(mainWindow), enable ? TRUE : FALSE);
}

void OnCommandEditFocus(HWND mainWindow) {
    HWND command = CommandEdit(mainWindow);
    SetWindowTextA(command, "");
    if (!OpenCommandChannel(*CommandPort)) EnableWindow(command, FALSE);
}

void OnCommandEditFocusLost() {
    EndResponseMode();
    CloseCommandChannel(*CommandPort);
}

// Keeps the newest part of the response visible: drops leading characters
// while the text is wider than the response edit. Any failed step skips the
// trimming only.
void TrimResponseToEdit(HWND response) {
    RECT client;
    if (!GetClientRect(response, &client)) return;
    ScopedWindowDC context(response);
    if (!context) return;
    uint32_t length = static_cast<uint32_t>(strnlen(ResponseText, kResponseTextSize));
    INT fit = 0;
    SIZE extent;
    if (length > 0 && GetTextExtentExPointA(context.Get(), ResponseText, static_cast<int>(length),
                                            client.right, &fit, nullptr, &extent)) {
        uint32_t drop = TrimmedCharacters(length, fit > 0 ? static_cast<uint32_t>(fit) : 0);
        if (drop > 0) DropLeadingCharacters(ResponseText, kResponseTextSize, drop);
    }
}

void PollResponse(HWND mainWindow) {
    ++ResponseTicks;
    if (!CommandPort) return;
    HWND response = ResponseEdit(mainWindow);
    TrimResponseToEdit(response);
    // Behind the text, keeping one byte for its terminator.
    uint32_t length = static_cast<uint32_t>(strnlen(ResponseText, kResponseTextSize));
    uint32_t room = kResponseTextSize - 1 - length;
    uint32_t count = ReadResponse(*CommandPort, ResponseText + length, room);
    // A zero byte in the answer would end the text early and leave what
    // follows it behind the end, where a later read would join it to the
    // text: it shows as '.', as CR and LF do. (The count is the driver's:
    // never more than the room offered is looked at.)
    MaskZeroBytes(ResponseText + length, count < room ? count : room);
    MaskLineBreaks(ResponseText);
    SetWindowTextA(response, ResponseText);
}

void BlinkNotice(HWND mainWindow) {
    LONG step = NoticeBlink;
    if (!IsBlinkStep(step)) return;
    char notice[kNoticeSize];
    if (BlinkShowsNotice(step)) {
        CopyNoticeText(notice);
    } else {
        notice[0] = 0;
    }
    SetWindowTextA(ResponseEdit(mainWindow), notice);
    InterlockedIncrement(&NoticeBlink);
}

}  // namespace

void UpdateTerminalState(HWND mainWindow, PortMonitor* port) {
    if (port && IsPaused(*port, PauseFlag::Tx) && IsPaused(*port, PauseFlag::Rx)) {
        EnableEdits(mainWindow, true);
        CommandPort = port;
        return;
    }
    // Disabling a focused command edit takes its focus: its focus loss
    // closes the channel of the port it was bound to, so CommandPort goes
    // only after the edits are disabled.
    EnableEdits(mainWindow, false);
    CommandPort = nullptr;
    EndResponseMode();
}

void ReleaseTerminalPort(HWND mainWindow, const PortMonitor* port) {
    if (port && port == CommandPort) UpdateTerminalState(mainWindow, nullptr);
}

void BeginResponseMode() {
    if (ResponseMode) return;
    std::memset(ResponseText, 0, sizeof(ResponseText));
    ResponseMode = true;
    ResponseTicks = 0;
}

void EndResponseMode() { ResponseMode = false; }

void OnCommandEditNotification(HWND mainWindow, WORD code) {
    if (!CommandPort) return;
    switch (code) {
        case EN_SETFOCUS: OnCommandEditFocus(mainWindow); break;
        case EN_KILLFOCUS: OnCommandEditFocusLost(); break;
        case EN_CHANGE:
            // The next command's first key ends the polling of the last
            // answer, once it has been polled at least once.
            if (ResponseTicks != 0) EndResponseMode();
            break;
        case EN_VSCROLL: SendCommandLine(mainWindow); break;
        default: break;
    }
}

void SendCommandLine(HWND mainWindow) {
    if (!CommandPort) return;
    HWND command = CommandEdit(mainWindow);
    char buffer[kCommandLineSize] = {};
    int read = GetWindowTextA(command, buffer, kCommandLineSize - 1);
    CommandLine line = PrepareCommandLine(buffer, read > 0 ? static_cast<uint32_t>(read) : 0);
    if (line.Length == 0) return;
    SetWindowTextA(ResponseEdit(mainWindow), "");
    WriteCommand(*CommandPort, buffer, line.Length);
    SetWindowTextA(command, "");
    RedrawWindow(command, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    if (line.Escape) {
        // The guard time after "+++": the window neither repaints nor ticks,
        // but the capture threads' calls into their panes are served.
        SleepServingSentMessages(kEscapeGuardMs);
        if (CommandPort) SendEscapeFollowup(*CommandPort, {.First = true, .Second = true});
    }
    BeginResponseMode();
}

void OnTerminalTimer(HWND mainWindow) {
    if (ResponseMode) {
        PollResponse(mainWindow);
    } else {
        BlinkNotice(mainWindow);
    }
}

}  // namespace quorvel
