#include "ui/port_menu.h"

#include "ui/window_commands.h"
#include "port/port_control.h"
#include "ui/properties_box.h"
#include "ui/command_terminal.h"
#include "ui/pause_menu_texts.h"

namespace quorvel {
namespace {

constexpr UINT kDescriptionPosition = 3;
constexpr UINT kFirstDescriptionId = ID_DESCRIPTION_BASE + 1;

HMENU DescriptionPopup(HWND mainWindow) {
    HMENU bar = GetMenu(mainWindow);
    return bar ? GetSubMenu(bar, kDescriptionPosition) : nullptr;
}

// Sets the text of the item, and its state too when withState.
void SetItem(HMENU bar, UINT id, const char* text, bool withState, bool enabled) {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_TYPE | (withState ? MIIM_STATE : 0u);
    info.fType = MFT_STRING;
    info.fState = enabled ? MFS_ENABLED : MFS_GRAYED;
    info.dwTypeData = const_cast<char*>(text);
    SetMenuItemInfoA(bar, id, FALSE, &info);
}

// The three pause items with their texts and states: TX and RX enabled or
// gray, TX/RX enabled only when its text allows it too.
void SetPauseItems(HMENU bar, const PauseItemTexts& texts, bool enabled) {
    SetItem(bar, ID_PAUSE_TX, texts.Tx, true, enabled);
    SetItem(bar, ID_PAUSE_RX, texts.Rx, true, enabled);
    SetItem(bar, ID_PAUSE_BOTH, texts.Both, true, enabled && texts.BothEnabled);
}

void GrayItem(HMENU bar, UINT id) {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    info.fState = MFS_GRAYED;
    SetMenuItemInfoA(bar, id, FALSE, &info);
}

// Reads the item's data with the data mask and writes the record into it.
bool SetItemRecord(HMENU popup, UINT id, PortMonitor* port) {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_DATA;
    if (!GetMenuItemInfoA(popup, id, FALSE, &info)) return false;
    info.dwItemData = reinterpret_cast<ULONG_PTR>(port);
    return SetMenuItemInfoA(popup, id, FALSE, &info) != FALSE;
}

PortMonitor* ItemRecord(HMENU popup, UINT item, BOOL byPosition) {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_DATA;
    if (!GetMenuItemInfoA(popup, item, byPosition, &info)) return nullptr;
    return reinterpret_cast<PortMonitor*>(info.dwItemData);
}

// The whole bar for the first port; a failing step leaves it unattached.
void BuildMenuBar(HWND mainWindow, PortMonitor* port) {
    HMENU bar = CreateMenu();
    if (!bar) return;
    HMENU popup = nullptr;
    bool ok = AppendMenuA(bar, MF_STRING | MF_GRAYED, ID_PAUSE_TX, "Pause &TX") &&
              AppendMenuA(bar, MF_STRING | MF_GRAYED, ID_PAUSE_RX, "Pause &RX") &&
              AppendMenuA(bar, MF_STRING | MF_GRAYED, ID_PAUSE_BOTH, "&Pause TX/RX") &&
              (popup = CreatePopupMenu()) != nullptr &&
              AppendMenuA(popup, MF_STRING, kFirstDescriptionId, DescriptionLabel(*port)) &&
              SetItemRecord(popup, kFirstDescriptionId, port);
    if (ok && AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), "&Description")) {
        popup = nullptr;  // the bar owns it now
        ok = SetMenu(mainWindow, bar) != FALSE;
    } else {
        ok = false;
    }
    if (popup) DestroyMenu(popup);
    if (!ok) DestroyMenu(bar);
}

void AppendDescriptionItem(HWND mainWindow, uint32_t count, PortMonitor* port) {
    HMENU popup = DescriptionPopup(mainWindow);
    if (!popup) return;
    UINT id = ID_DESCRIPTION_BASE + count;
    if (AppendMenuA(popup, MF_STRING, id, DescriptionLabel(*port))) SetItemRecord(popup, id, port);
}

// Gives the items ids 1101 upwards in their order.
void RenumberDescriptionItems(HMENU popup) {
    int items = GetMenuItemCount(popup);
    for (int position = 0; position < items; ++position) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID;
        info.wID = kFirstDescriptionId + static_cast<UINT>(position);
        SetMenuItemInfoA(popup, static_cast<UINT>(position), TRUE, &info);
    }
}

void RemoveDescriptionItem(HWND mainWindow, const PortMonitor* port) {
    HMENU popup = DescriptionPopup(mainWindow);
    if (!popup) return;
    int items = GetMenuItemCount(popup);
    for (int position = 0; position < items; ++position) {
        if (ItemRecord(popup, static_cast<UINT>(position), TRUE) == port) {
            DeleteMenu(popup, static_cast<UINT>(position), MF_BYPOSITION);
            break;
        }
    }
    RenumberDescriptionItems(popup);
}

void DestroyMenuBar(HWND mainWindow) {
    HMENU bar = GetMenu(mainWindow);
    if (!bar) return;
    SetMenu(mainWindow, nullptr);
    DestroyMenu(bar);  // with its popup
}

// The record of the window that has the keyboard focus, if that window is
// one of the main window's children (only panes carry a record).
PortMonitor* FocusedPort(HWND mainWindow) {
    HWND focus = GetFocus();
    if (!focus || GetParent(focus) != mainWindow) return nullptr;
    return reinterpret_cast<PortMonitor*>(GetWindowLongPtrA(focus, GWLP_USERDATA));
}

}  // namespace

void UpdatePortMenu(HWND mainWindow, PortChange change, uint32_t count, PortMonitor* port) {
    bool arriving = change == PortChange::Arrived;
    if (arriving && count == 1) {
        BuildMenuBar(mainWindow, port);
    } else if (arriving) {
        AppendDescriptionItem(mainWindow, count, port);
    } else if (count == 1) {
        DestroyMenuBar(mainWindow);
    } else {
        RemoveDescriptionItem(mainWindow, port);
    }
    DrawMenuBar(mainWindow);
}

void OnPaneFocus(HWND mainWindow, HWND pane, bool gained) {
    auto* port = reinterpret_cast<PortMonitor*>(GetWindowLongPtrA(pane, GWLP_USERDATA));
    if (!port) {
        // A lost port's pane loses the focus as it closes, its record already
        // gone: its items gray, with the texts of no port.
        HMENU bar = GetMenu(mainWindow);
        if (gained || !bar) return;
        SetPauseItems(bar, PauseTexts(false, false), false);
        DrawMenuBar(mainWindow);
        return;
    }
    if (HMENU bar = GetMenu(mainWindow)) {
        if (gained) {
            SetPauseItems(bar, PauseTexts(IsPaused(*port, PauseFlag::Tx), IsPaused(*port, PauseFlag::Rx)), true);
        } else {
            GrayItem(bar, ID_PAUSE_TX);
            GrayItem(bar, ID_PAUSE_RX);
            GrayItem(bar, ID_PAUSE_BOTH);
        }
        DrawMenuBar(mainWindow);
    }
    UpdateTerminalState(mainWindow, port);
}

void OnPauseCommand(HWND mainWindow, uint32_t command) {
    PortMonitor* port = FocusedPort(mainWindow);
    if (!port) return;
    bool tx = command != ID_PAUSE_RX;
    bool rx = command != ID_PAUSE_TX;
    TogglePause(*port, tx, rx);
    if (HMENU bar = GetMenu(mainWindow)) {
        PauseItemTexts texts = PauseTexts(IsPaused(*port, PauseFlag::Tx), IsPaused(*port, PauseFlag::Rx));
        if (command == ID_PAUSE_BOTH) {
            texts = PauseTextsAfterBoth(IsPaused(*port, PauseFlag::Rx));
            SetItem(bar, ID_PAUSE_TX, texts.Tx, false, true);
            SetItem(bar, ID_PAUSE_RX, texts.Rx, false, true);
            SetItem(bar, ID_PAUSE_BOTH, texts.Both, false, true);
        } else {
            SetItem(bar, command, command == ID_PAUSE_TX ? texts.Tx : texts.Rx, false, true);
            SetItem(bar, ID_PAUSE_BOTH, texts.Both, true, texts.BothEnabled);
        }
        DrawMenuBar(mainWindow);
    }
    UpdateTerminalState(mainWindow, port);
}

void OnDescriptionCommand(HWND mainWindow, uint32_t command) {
    HMENU popup = DescriptionPopup(mainWindow);
    if (!popup) return;
    int items = GetMenuItemCount(popup);
    if (command <= ID_DESCRIPTION_BASE || items < 0 ||
        command > ID_DESCRIPTION_BASE + static_cast<uint32_t>(items)) {
        return;
    }
    if (PortMonitor* port = ItemRecord(popup, command, FALSE)) ShowProperties(*port, mainWindow);
}

}  // namespace quorvel
