#include "ui/main_window.h"

#include "driver/window_commands.h"
#include "ui/port_panes.h"

namespace quorvel {

HANDLE WatcherThreadHandle = nullptr;
UINT_PTR RefreshTimerId = 0;

namespace {

void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
        case ID_PORT_ARRIVED: OnPortArrived(window, lParam); break;
        case ID_PORT_REMOVED: OnPortLost(window, lParam); break;
        default: break;
    }
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SetLastError(ERROR_SUCCESS);
    switch (message) {
        case WM_DESTROY: StopAndRemoveAllPorts(window); break;
        case WM_SIZE: LayoutPanes(window); break;
        case WM_COMMAND: OnCommand(window, wParam, lParam); break;
        default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace quorvel
