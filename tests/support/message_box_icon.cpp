// Within one process the dialog's icon handle is the shared handle that
// LoadIcon returns for the standard icon, so handles are compared. Icon
// handles do not cross processes (under Wine another process's handle has
// another value, and GetIconInfo and DrawIconEx refuse it), so for another
// process's box the icon is recognised by its pixels on the screen: the
// pixels of the icon control must equal a standard icon drawn over the
// control's background.
#include "support/message_box_icon.h"

#include <cstring>
#include <vector>

namespace testsupport {
namespace {

constexpr DWORD kMessageTimeoutMs = 2000;
constexpr DWORD kRepaintPollMs = 20;
// Largest difference per colour channel still counted as the same pixel.
constexpr int kChannelTolerance = 8;

struct StandardIcon {
    MessageBoxIcon kind;
    LPCSTR resource;
};

const StandardIcon kStandardIcons[] = {
    {MessageBoxIcon::Information, IDI_INFORMATION},
    {MessageBoxIcon::Warning, IDI_WARNING},
    {MessageBoxIcon::Error, IDI_ERROR},
    {MessageBoxIcon::Question, IDI_QUESTION},
};

// The dialog's icon control: a static control with the SS_ICON style.
HWND FindIconControl(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = {};
        GetClassNameA(child, className, sizeof className);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (_stricmp(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) return child;
    }
    return nullptr;
}

bool BelongsToThisProcess(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId == GetCurrentProcessId();
}

MessageBoxIcon KindOfHandle(HICON icon) {
    for (const auto& standard : kStandardIcons) {
        if (LoadIconA(nullptr, standard.resource) == icon) return standard.kind;
    }
    return MessageBoxIcon::Unknown;
}

using Pixels = std::vector<DWORD>;

// A 32-bit top-down bitmap of width x height selected into a memory DC.
class PixelCanvas {
public:
    PixelCanvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~PixelCanvas() {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    PixelCanvas(const PixelCanvas&) = delete;
    PixelCanvas& operator=(const PixelCanvas&) = delete;

    HDC dc() const { return dc_; }

    Pixels Read() const {
        GdiFlush();
        const auto* first = static_cast<const DWORD*>(bits_);
        Pixels pixels(first, first + width_ * height_);
        for (auto& pixel : pixels) pixel &= 0xFFFFFF;
        return pixels;
    }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

Pixels CaptureScreen(const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    PixelCanvas canvas(width, height);
    HDC screen = GetDC(nullptr);
    BitBlt(canvas.dc(), 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    return canvas.Read();
}

// The icon as the static control draws it: stretched to the control's client
// area, over the background colour (a 0x00RRGGBB DIB pixel).
Pixels Render(HICON icon, DWORD background, int width, int height) {
    PixelCanvas canvas(width, height);
    HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF,
                                        background & 0xFF));
    const RECT all = {0, 0, width, height};
    FillRect(canvas.dc(), &all, brush);
    DeleteObject(brush);
    DrawIconEx(canvas.dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    return canvas.Read();
}

bool SameChannel(DWORD a, DWORD b, int shift) {
    const int difference = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    return difference <= kChannelTolerance && difference >= -kChannelTolerance;
}

bool SamePixels(const Pixels& a, const Pixels& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameChannel(a[i], b[i], 0) || !SameChannel(a[i], b[i], 8) || !SameChannel(a[i], b[i], 16)) {
            return false;
        }
    }
    return true;
}

// Polls the screen until the control shows a standard icon: the box may not
// have painted its icon yet when it first becomes visible.
MessageBoxIcon KindOnScreen(HWND dialog, HWND iconControl, DWORD timeoutMs) {
    // Another window may cover the box; bring it up without activating it.
    SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    const DWORD startTick = GetTickCount();
    do {
        RECT area = {};
        GetClientRect(iconControl, &area);
        MapWindowPoints(iconControl, nullptr, reinterpret_cast<POINT*>(&area), 2);
        const int width = area.right - area.left;
        const int height = area.bottom - area.top;
        if (width > 0 && height > 0) {
            const Pixels shown = CaptureScreen(area);
            // Every standard icon leaves its top-left corner transparent.
            const DWORD background = shown.front();
            for (const auto& standard : kStandardIcons) {
                HICON icon = LoadIconA(nullptr, standard.resource);
                if (SamePixels(shown, Render(icon, background, width, height))) return standard.kind;
            }
        }
        Sleep(kRepaintPollMs);
    } while (GetTickCount() - startTick < timeoutMs && IsWindow(dialog));
    return MessageBoxIcon::Unknown;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, MessageBoxIcon icon) {
    switch (icon) {
        case MessageBoxIcon::None: return out << "None";
        case MessageBoxIcon::Information: return out << "Information";
        case MessageBoxIcon::Warning: return out << "Warning";
        case MessageBoxIcon::Error: return out << "Error";
        case MessageBoxIcon::Question: return out << "Question";
        case MessageBoxIcon::Unknown: return out << "Unknown";
    }
    return out << "MessageBoxIcon(" << static_cast<int>(icon) << ")";
}

MessageBoxIcon ReadMessageBoxIcon(HWND dialog, DWORD timeoutMs) {
    HWND iconControl = FindIconControl(dialog);
    if (!iconControl) return MessageBoxIcon::None;
    DWORD_PTR icon = 0;
    if (!SendMessageTimeoutW(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &icon)) {
        return MessageBoxIcon::Unknown;
    }
    if (icon == 0) return MessageBoxIcon::None;
    if (BelongsToThisProcess(dialog)) return KindOfHandle(reinterpret_cast<HICON>(icon));
    return KindOnScreen(dialog, iconControl, timeoutMs);
}

}  // namespace testsupport
