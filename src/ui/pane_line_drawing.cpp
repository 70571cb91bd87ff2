#include "ui/pane_line_drawing.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "system/scoped_handles.h"
#include "ui/pane_line_fit.h"

namespace quorvel {
namespace {

// Characters drawn past the last one that begins inside the pane, for the
// overhang and rounding of the font's drawing.
constexpr size_t kSpareCharacters = 2;

// The widths of the font that the panes last drew with (every pane has the
// stock GUI font, so this is measured once). Main thread only.
struct FontWidths {
    HGDIOBJ Font = nullptr;
    CharacterWidths Widths{};
    int TabWidth = 0;  // a tab stop every eight average characters, as TabbedTextOut keeps without stops
};
FontWidths LastFont;

const FontWidths& WidthsOf(HDC dc) {
    HGDIOBJ font = GetCurrentObject(dc, OBJ_FONT);
    if (font && font == LastFont.Font) return LastFont;
    LastFont = FontWidths{};
    // Unmeasured widths stay 0, so that the whole line is drawn.
    if (!GetCharWidth32A(dc, 0, 255, LastFont.Widths.data())) LastFont.Widths.fill(0);
    TEXTMETRICA metrics;
    if (GetTextMetricsA(dc, &metrics)) LastFont.TabWidth = metrics.tmAveCharWidth * 8;
    LastFont.Font = font;
    return LastFont;
}

// The text of a pane's line, in a buffer kept for the next line. Main thread only.
std::string_view LineText(HWND pane, UINT index) {
    static std::string text;
    LRESULT length = SendMessageA(pane, LB_GETTEXTLEN, index, 0);
    if (length <= 0) return {};
    text.resize(static_cast<size_t>(length) + 1);
    length = SendMessageA(pane, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    if (length <= 0) return {};
    return std::string_view(text.data(), std::min(static_cast<size_t>(length), text.size() - 1));
}

}  // namespace

void FitPaneLineHeight(HWND pane) {
    ScopedWindowDC context(pane);
    TEXTMETRICA metrics;
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(pane, WM_GETFONT, 0, 0));
    if (font && context.Select(font) && GetTextMetricsA(context.Get(), &metrics) && metrics.tmHeight > 0) {
        SendMessageA(pane, LB_SETITEMHEIGHT, 0, MAKELPARAM(metrics.tmHeight, 0));
    }
}

void DrawPaneLine(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    if (item.itemAction == ODA_FOCUS) {
        DrawFocusRect(dc, &rect);
        return;
    }
    bool selected = (item.itemState & ODS_SELECTED) != 0;
    COLORREF back = SetBkColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    COLORREF fore = SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    ExtTextOutA(dc, rect.left + 1, rect.top, ETO_OPAQUE | ETO_CLIPPED, &rect, nullptr, 0, nullptr);
    if (item.itemID != static_cast<UINT>(-1)) {
        std::string_view text = LineText(item.hwndItem, item.itemID);
        const FontWidths& font = WidthsOf(dc);
        size_t shown = CharactersInRoom(text, font.Widths, font.TabWidth, rect.right - rect.left);
        shown = std::min(text.size(), shown + kSpareCharacters);
        TabbedTextOutA(dc, rect.left + 1, rect.top, text.data(), static_cast<int>(shown), 0, nullptr, rect.left);
    }
    if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &rect);
    SetBkColor(dc, back);
    SetTextColor(dc, fore);
}

}  // namespace quorvel
