#include "ui/capture_pane_window.h"

#include "port/capture_pane.h"
#include "system/scoped_handles.h"
#include "ui/flash_brushes.h"
#include "ui/line_intake.h"
#include "ui/pane_call_gate.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

// The main window is the pane's parent; its class background is the one
// object shared by all capture threads.
HWND MainWindowOf(HWND pane) { return GetParent(pane); }

void SetBackground(HWND pane, HBRUSH brush) {
    SetClassLongPtrA(MainWindowOf(pane), GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush));
}

void ShowPane(HWND pane, int command) {
    ScopedLock<PaneCallGate> turn(CaptureThreadsPaneCalls);
    ShowWindow(pane, command);
}

HBRUSH Background(HWND pane) {
    return reinterpret_cast<HBRUSH>(GetClassLongPtrA(MainWindowOf(pane), GCLP_HBRBACKGROUND));
}

void Show(HWND pane) { ShowPane(pane, SW_SHOWNORMAL); }

bool Flash(HWND pane, uint32_t colour) {
    if (colour == 0 || colour > kFlashColours) return false;
    SetBackground(pane, FlashBrush(colour));
    ShowPane(pane, SW_HIDE);
    return true;
}

void Restore(HWND pane, HBRUSH background, bool showPane) {
    SetBackground(pane, background);
    if (showPane) ShowPane(pane, SW_SHOWNORMAL);
}

// Both are posted, never sent: the removal runs before the pane's close.
void Lost(HWND pane, PortMonitor* port) {
    PostMessageA(MainWindowOf(pane), WM_COMMAND, ID_PORT_REMOVED, reinterpret_cast<LPARAM>(port));
    PostMessageA(pane, WM_CLOSE, 0, 0);
}

const CapturePane kWindowPane = {Background, EnsureFlashBrushes, Show, Flash, Restore, Lost, WakeLineIntake};

}  // namespace

void UseWindowCapturePane() { SetCapturePane(&kWindowPane); }

}  // namespace quorvel
