// Real message boxes in tests: run code that shows one (MessageBoxA), get
// back what the box showed, and dismiss it as a user pressing Enter would,
// with the box's default button.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/message_box_icon.h"

namespace testsupport {

struct CapturedMessageBox {
    bool found = false;
    std::string caption;  // in the ANSI code page, as passed to MessageBoxA
    std::string text;
    MessageBoxIcon icon = MessageBoxIcon::None;
    HWND owner = nullptr;
    int pressedButton = 0;  // the command id the box was dismissed with
};

// Runs action on the calling thread while a watcher thread reads and
// dismisses every message box (#32770 dialog) of the calling thread, in the
// order they appear. Boxes that appear within timeoutMs of the start are
// returned; later ones are dismissed too, so that the action can return,
// but not returned. The watcher stops when the action returns; an action
// that shows no box thus costs no waiting.
std::vector<CapturedMessageBox> CaptureMessageBoxes(const std::function<void()>& action,
                                                    DWORD timeoutMs = 10000);

// The first box of CaptureMessageBoxes; found is false when there was none.
CapturedMessageBox CaptureMessageBox(const std::function<void()>& action, DWORD timeoutMs = 10000);

// Waits up to timeoutMs for a message box of another process, reads it,
// dismisses it and waits until it is no longer shown (its MessageBox call
// returns a little later). Returns early, with found false, when the process
// ends first.
CapturedMessageBox WaitForProcessMessageBox(DWORD processId, DWORD timeoutMs = 20000);

}  // namespace testsupport
