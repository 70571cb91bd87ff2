#include "ui/pane_menu.h"

#include <windowsx.h>

#include <algorithm>
#include <string>

#include "port/port_monitor.h"
#include "system/owned_buffer.h"
#include "ui/line_intake.h"
#include "ui/pane_copy_text.h"

namespace quorvel {
namespace {

// The list box's own procedure, the same for every pane; written when the
// first pane is given its menu, on the main thread, which alone reads it.
WNDPROC g_listBoxProc = nullptr;

PortMonitor* PortOf(HWND pane) { return reinterpret_cast<PortMonitor*>(GetWindowLongPtrA(pane, GWLP_USERDATA)); }

bool ShowsHex(HWND pane) {
    PortMonitor* port = PortOf(pane);
    return port && InterlockedCompareExchange(&port->ShowHex, 0, 0) != 0;
}

// The lines to copy: those whose indices it holds, or, All, every line of
// the pane (no index list for a pane of millions of lines).
struct CopiedLines {
    OwnedBuffer<int> Indices;
    size_t Count = 0;
    bool All = false;
    int At(size_t i) const { return All ? static_cast<int>(i) : Indices.Get()[i]; }
};

void SelectedLines(HWND pane, CopiedLines& lines) {
    LRESULT count = SendMessageA(pane, LB_GETSELCOUNT, 0, 0);
    if (count <= 0 || !lines.Indices.Ensure(static_cast<size_t>(count))) return;
    count = SendMessageA(pane, LB_GETSELITEMS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(lines.Indices.Get()));
    lines.Count = count > 0 ? static_cast<size_t>(count) : 0;
}

void AllLines(HWND pane, CopiedLines& lines) {
    LRESULT count = SendMessageA(pane, LB_GETCOUNT, 0, 0);
    lines.Count = count > 0 ? static_cast<size_t>(count) : 0;
    lines.All = true;
}

// The line as the pane shows it.
std::string ShownLine(HWND pane, int index) {
    LRESULT length = SendMessageA(pane, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    length = SendMessageA(pane, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

// Calls put with each line's copy, in order.
template <typename Put>
void ForEachCopied(HWND pane, const CopiedLines& lines, bool asHex, Put put) {
    PortMonitor* port = PortOf(pane);
    std::string wholeRun;
    for (size_t i = 0; i < lines.Count; ++i) {
        LineKind kind = LineKind::Notice;
        if (!port || !HeldLine(port->PaneLines, lines.At(i), &kind, &wholeRun)) kind = LineKind::Notice;
        put(CopiedLine(kind, ShownLine(pane, lines.At(i)), wholeRun, asHex));
    }
}

// The copy in a clipboard block: the lines with CR LF between them, written
// straight into the block, whose size is counted first, so that a pane of
// millions of lines needs no second copy of them; null without memory.
HGLOBAL CopyBlock(HWND pane, const CopiedLines& lines, bool asHex) {
    size_t bytes = 0;
    ForEachCopied(pane, lines, asHex, [&](const std::string& line) { bytes += line.size() + 2; });
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes + 1);
    char* at = block ? static_cast<char*>(GlobalLock(block)) : nullptr;
    if (!at) {
        if (block) GlobalFree(block);
        return nullptr;
    }
    char* start = at;
    ForEachCopied(pane, lines, asHex, [&](const std::string& line) {
        if (at != start) at = std::copy_n("\r\n", 2, at);
        at = std::copy(line.begin(), line.end(), at);
    });
    *at = 0;
    GlobalUnlock(block);
    return block;
}

// Puts the lines on the clipboard as CF_TEXT; a copy that cannot be made
// (no memory, the clipboard held elsewhere) says so with the system's beep.
void Copy(HWND pane, const CopiedLines& lines, bool asHex) {
    if (lines.Count == 0) return;
    HGLOBAL block = CopyBlock(pane, lines, asHex);
    bool put = false;
    if (block && OpenClipboard(pane)) {
        EmptyClipboard();
        put = SetClipboardData(CF_TEXT, block) != nullptr;
        CloseClipboard();
    }
    if (!put && block) GlobalFree(block);
    if (!put) MessageBeep(MB_ICONWARNING);
}

// Copies the selected lines, or all.
void Copy(HWND pane, bool all, bool asHex) {
    CopiedLines lines;
    if (all) {
        AllLines(pane, lines);
    } else {
        SelectedLines(pane, lines);
    }
    Copy(pane, lines, asHex);
}

void ShowAsHex(HWND pane, bool hex) {
    if (PortMonitor* port = PortOf(pane)) InterlockedExchange(&port->ShowHex, hex ? 1 : 0);
}

// A right click on a line that is not selected selects that line alone, as
// lists do, so that the menu's "Copy" is about the line under the mouse.
void SelectUnderMouse(HWND pane, LPARAM point) {
    LRESULT hit = SendMessageA(pane, LB_ITEMFROMPOINT, 0, point);
    if (HIWORD(hit) != 0) return;  // outside every line
    auto index = static_cast<int>(LOWORD(hit));
    if (SendMessageA(pane, LB_GETSEL, static_cast<WPARAM>(index), 0) > 0) return;
    SendMessageA(pane, LB_SETSEL, FALSE, -1);
    SendMessageA(pane, LB_SETSEL, TRUE, index);
    SendMessageA(pane, LB_SETCARETINDEX, static_cast<WPARAM>(index), FALSE);
}

// The menu at the screen point, or under the caret line for the keyboard.
void ShowMenu(HWND pane, LPARAM at) {
    POINT point = {GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (at == -1) {
        RECT line = {};
        SendMessageA(pane, LB_GETITEMRECT, SendMessageA(pane, LB_GETCARETINDEX, 0, 0), reinterpret_cast<LPARAM>(&line));
        point = {line.left, line.bottom};
        ClientToScreen(pane, &point);
    }
    HMENU menu = CreatePaneMenu(SendMessageA(pane, LB_GETSELCOUNT, 0, 0) > 0,
                                SendMessageA(pane, LB_GETCOUNT, 0, 0) > 0, ShowsHex(pane));
    if (!menu) return;
    UINT command = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, point.x, point.y, 0, pane,
                                  nullptr);
    DestroyMenu(menu);
    if (command != 0) RunPaneCommand(pane, command);
}

// The menu key opens the menu under the caret line.
bool MenuKey(HWND pane, WPARAM key) {
    if (key != VK_APPS) return false;
    ShowMenu(pane, -1);
    return true;
}

bool ControlDown() { return (GetKeyState(VK_CONTROL) & 0x8000) != 0; }

// The pane's keys; true when the key was the pane menu's.
bool PaneKey(HWND pane, WPARAM key) {
    if (MenuKey(pane, key)) return true;
    if (!ControlDown()) return false;
    if (key == 'C' || key == VK_INSERT) {
        RunPaneCommand(pane, kPaneCopy);
        return true;
    }
    if (key == 'A') {
        SendMessageA(pane, LB_SETSEL, TRUE, -1);
        return true;
    }
    return false;
}


LRESULT CALLBACK PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_RBUTTONDOWN:
        SelectUnderMouse(pane, lParam);
        break;
    case WM_CONTEXTMENU:
        ShowMenu(pane, lParam);
        return 0;
    case WM_KEYDOWN:
        if (PaneKey(pane, wParam)) return 0;
        break;
    case WM_SYSKEYDOWN:
        // Shift+F10 and the menu key open the menu, as in any list.
        if (wParam == VK_F10 && (GetKeyState(VK_SHIFT) & 0x8000) != 0) {
            ShowMenu(pane, -1);
            return 0;
        }
        break;
    case WM_CHAR:
        // Ctrl+A and Ctrl+C also arrive as characters, which the list box
        // would take for the first letter of a line to jump to.
        if (wParam == 1 || wParam == 3) return 0;
        break;
    default:
        break;
    }
    return CallWindowProcA(g_listBoxProc, pane, message, wParam, lParam);
}

}  // namespace

HMENU CreatePaneMenu(bool anySelected, bool anyLine, bool showsHex) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    UINT selected = anySelected ? MF_ENABLED : MF_GRAYED;
    AppendMenuA(menu, MF_STRING | selected, kPaneCopy, "Copy");
    AppendMenuA(menu, MF_STRING | (anyLine ? MF_ENABLED : MF_GRAYED), kPaneCopyAll, "Copy all");
    AppendMenuA(menu, MF_STRING | selected, kPaneCopyAsHex, "Copy as hex");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kPaneShowText, "Show as text");
    AppendMenuA(menu, MF_STRING, kPaneShowHex, "Show as hex");
    CheckMenuRadioItem(menu, kPaneShowText, kPaneShowHex, showsHex ? kPaneShowHex : kPaneShowText, MF_BYCOMMAND);
    return menu;
}

void AttachPaneMenu(HWND pane) {
    auto previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PaneProc)));
    if (!g_listBoxProc) g_listBoxProc = previous;
}

void RunPaneCommand(HWND pane, UINT command) {
    switch (command) {
    case kPaneCopy:
        return Copy(pane, false, false);
    case kPaneCopyAll:
        return Copy(pane, true, false);
    case kPaneCopyAsHex:
        return Copy(pane, false, true);
    case kPaneShowText:
    case kPaneShowHex:
        return ShowAsHex(pane, command == kPaneShowHex);
    default:
        return;
    }
}

}  // namespace quorvel
