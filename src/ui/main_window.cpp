#include "ui/main_window.h"

#include "ui/window_commands.h"
#include "ui/command_terminal.h"
#include "ui/pane_line_drawing.h"
#include "ui/port_menu.h"
#include "ui/port_panes.h"

namespace quorvel {

HANDLE WatcherThreadHandle = nullptr;
UINT_PTR RefreshTimerId = 0;

namespace {

void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    WORD code = HIWORD(wParam);
    switch (LOWORD(wParam)) {
        case ID_PORT_ARRIVED: OnPortArrived(window, lParam); break;
        case ID_PORT_REMOVED: OnPortLost(window, lParam); break;
        case ID_PAUSE_TX:
        case ID_PAUSE_RX:
        case ID_PAUSE_BOTH: OnPauseCommand(window, LOWORD(wParam)); break;
        case IDC_PORT_LIST:
            if (code == LBN_SETFOCUS || code == LBN_KILLFOCUS) {
                OnPaneFocus(window, reinterpret_cast<HWND>(lParam), code == LBN_SETFOCUS);
            }
            break;
        case IDC_COMMAND_EDIT: OnCommandEditNotification(window, code); break;
        default: OnDescriptionCommand(window, LOWORD(wParam)); break;
    }
}

void OnDrawItem(WPARAM control, LPARAM lParam) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (control == IDC_PORT_LIST && item && item->CtlType == ODT_LISTBOX) DrawPaneLine(*item);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SetLastError(ERROR_SUCCESS);
    switch (message) {
        case WM_DESTROY: StopAndRemoveAllPorts(window); break;
        case WM_SIZE: LayoutPanes(window); break;
        case WM_COMMAND: OnCommand(window, wParam, lParam); break;
        case WM_TIMER: OnTerminalTimer(window); break;
        case WM_DRAWITEM: OnDrawItem(wParam, lParam); break;
        default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace quorvel
