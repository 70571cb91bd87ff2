#include "ui/port_panes.h"

#include <process.h>

#include <new>

#include "driver/control_device.h"
#include "driver/port_watcher.h"
#include "driver/stop_event.h"
#include "ui/window_commands.h"
#include "port/capture_thread.h"
#include "ui/flash_brushes.h"
#include "port/port_list.h"
#include "ui/main_window.h"
#include "ui/line_intake.h"
#include "ui/port_menu.h"
#include "system/scoped_handles.h"
#include "ui/command_terminal.h"
#include "ui/sent_message_wait.h"
#include "ui/pane_line_drawing.h"
#include "ui/pane_menu.h"
#include "ui/terminal_edits.h"
#include "ui/window_layout.h"

namespace quorvel {
namespace {

// Extended selection: lines are selected for copying with Shift and Ctrl.
// Owner-drawn with its strings kept: the main window draws only the part of
// each line that the pane's width shows.
constexpr DWORD kPaneStyle = WS_CHILD | WS_CLIPSIBLINGS | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP |
                             LBS_DISABLENOSCROLL | LBS_USETABSTOPS | LBS_NOTIFY | LBS_EXTENDEDSEL |
                             LBS_OWNERDRAWFIXED | LBS_HASSTRINGS;

bool IsLinked(const PortMonitor* port) {
    for (PortMonitor* p = PortList; p; p = p->Next) {
        if (p == port) return true;
    }
    return false;
}

void FreePort(PortMonitor* port) {
    ForgetPaneIntake(port->PaneLines);
    ReleaseStorage(*port);
    delete port;
}

}  // namespace

void OnPortArrived(HWND mainWindow, LPARAM lParam) {
    // Any process on the desktop can post this command: only the watcher's
    // own arrival, taken once, names a port.
    ArrivalMessage* arrival = TakeWatcherArrival(lParam);
    if (!arrival) return;
    auto* port = new (std::nothrow) PortMonitor(ControlDevice);
    if (port && !FetchProperties(*port, *arrival->Header)) {
        delete port;  // it owns nothing yet
        port = nullptr;
    }
    if (port) {
        LinkPortMonitor(*port);
        if (CreatePortPane(mainWindow, *port)) {
            UpdatePortMenu(mainWindow, PortChange::Arrived, PortCount, port);
            LayoutPanes(mainWindow);
        } else {
            // A port without pane or capture thread could never be shown nor
            // removed: drop it at once.
            UnlinkPortMonitor(*port);
            FreePort(port);
        }
    }
    // The watcher waits for this before it asks the driver for the next port.
    ReleaseSemaphore(arrival->TakenSemaphore, 1, nullptr);
}

HWND CreatePaneListBox(HWND mainWindow) {
    HWND pane = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", nullptr, kPaneStyle, 0, 0, 10, 10,
                                mainWindow, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_PORT_LIST)),
                                nullptr, nullptr);
    if (!pane || !IsWindow(pane)) return nullptr;
    SendMessageA(pane, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    FitPaneLineHeight(pane);
    AttachPaneMenu(pane);
    return pane;
}

bool CreatePortPane(HWND mainWindow, PortMonitor& port) {
    ScopedHandle started(CreateSemaphoreA(nullptr, 0, 1, nullptr));
    if (!started) return false;
    HWND pane = CreatePaneListBox(mainWindow);
    if (!pane) return false;
    CaptureStartBlock block{pane, &port, started.Get()};
    unsigned threadId = 0;
    ScopedHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, CaptureThread, &block, 0, &threadId)));
    if (!thread || threadId == 0) {
        DestroyWindow(pane);
        return false;
    }
    SetPane(port, pane, thread.Get());
    // The thread releases the semaphore as its first act, before it calls
    // into any window, so this wait needs no message service.
    WaitForSingleObject(started.Get(), INFINITE);
    thread.Release();  // the record owns it now; RemovePort closes it
    SetWindowLongPtrA(pane, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&port));
    return true;
}

void RemovePort(PortMonitor& port) {
    HWND pane = nullptr;
    HANDLE thread = nullptr;
    GetPane(port, &pane, &thread);
    if (thread) {
        WaitServingSentMessages(thread);
        CloseHandle(thread);
    }
    // The pane may outlive the record (a lost port's pane closes later): it
    // must no longer name it.
    if (pane && IsWindow(pane)) SetWindowLongPtrA(pane, GWLP_USERDATA, 0);
    UnlinkPortMonitor(port);
    FreePort(&port);
}

void OnPortLost(HWND mainWindow, LPARAM lParam) {
    auto* port = reinterpret_cast<PortMonitor*>(lParam);
    if (!IsLinked(port)) return;
    // The last port's loss takes the menu bar down while the port is still
    // linked; the WM_SIZE that this sends must not fit the window to the
    // leaving pane: the window keeps its size.
    {
        LayoutHold hold(PortCount == 1);
        UpdatePortMenu(mainWindow, PortChange::Removed, PortCount, port);
    }
    ReleaseTerminalPort(mainWindow, port);
    RemovePort(*port);
    if (PortList) {
        LayoutPanes(mainWindow);
    } else {
        ShowWindow(CommandEdit(mainWindow), SW_HIDE);
        ShowWindow(ResponseEdit(mainWindow), SW_HIDE);
    }
}

void StopAndRemoveAllPorts(HWND mainWindow) {
    KillTimer(mainWindow, RefreshTimerId);
    RefreshTimerId = 0;
    SetEvent(StopEvent);
    if (WatcherThreadHandle) WaitServingSentMessages(WatcherThreadHandle);
    while (PortList) {
        ReleaseTerminalPort(mainWindow, PortList);
        RemovePort(*PortList);
    }
    // Every capture thread has ended: no class background can name a flash
    // brush any more.
    DeleteFlashBrushes();
    PostQuitMessage(0);
}

}  // namespace quorvel
