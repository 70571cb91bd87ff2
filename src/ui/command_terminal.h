// The command terminal: the command edit in which the user types a line for
// the device on the CommandPort, and the response edit that shows the
// device's answer, polled on every tick of the 100 ms timer, or blinks the
// latest driver notice while no answer is awaited.
//
// Main thread only, except NoticeText and NoticeBlink (driver_notice.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "port/port_monitor.h"

namespace quorvel {

constexpr uint32_t kResponseTextSize = 400;  // 399 characters and the terminator
constexpr uint32_t kCommandLineSize = 200;   // 198 characters, Enter's LF, the terminator
constexpr DWORD kEscapeGuardMs = 500;        // between "+++" and its follow-up

// The port that the terminal addresses, set only while both of its
// directions are paused; null when none. Main thread only.
extern PortMonitor* CommandPort;
// True while the response edit shows command responses and the timer polls
// them. Main thread only.
extern bool ResponseMode;
// Timer ticks since the response mode began. Main thread only.
extern uint32_t ResponseTicks;
// The text shown during the response mode; every byte behind its end is
// zero. Main thread only.
extern char ResponseText[kResponseTextSize];

// Both directions of port paused: enables both edits and makes port the
// CommandPort. Otherwise (also for a null port) disables both edits, clears
// CommandPort and ends the response mode.
void UpdateTerminalState(HWND mainWindow, PortMonitor* port);

// A port that is about to be freed: if it is the CommandPort, the terminal
// lets go of it as a port with a capturing direction would make it.
void ReleaseTerminalPort(HWND mainWindow, const PortMonitor* port);

void BeginResponseMode();
void EndResponseMode();

// A notification of the command edit (EN_SETFOCUS, EN_KILLFOCUS, EN_CHANGE,
// EN_VSCROLL); all are ignored while there is no CommandPort.
void OnCommandEditNotification(HWND mainWindow, WORD code);

// Sends the command edit's line to the CommandPort (Enter scrolls the
// one-line edit vertically, which is the trigger).
void SendCommandLine(HWND mainWindow);

// Every WM_TIMER of the main window: the notice blink, or the response poll.
void OnTerminalTimer(HWND mainWindow);

}  // namespace quorvel
