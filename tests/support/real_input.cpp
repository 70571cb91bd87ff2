#include "support/real_input.h"

#include "support/process_runner.h"

namespace testsupport {
namespace {

// How long a started xdotool gets to do its work.
constexpr DWORD kInputSettleMs = 250;

}  // namespace

// xdotool is a Linux program: Wine gives no handle to wait for, so the
// settle time covers its run.
bool XDoTool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "/usr/bin/xdotool");
    if (!StartLinuxProgram(arguments)) return false;
    Sleep(kInputSettleMs);
    return true;
}

bool ClickAt(int x, int y) {
    return XDoTool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
}

bool ClickWindow(HWND window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    return ClickAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

bool PressKeys(const std::string& keys) {
    std::vector<std::string> arguments = SplitAtBlanks(keys);
    arguments.insert(arguments.begin(), "key");
    return XDoTool(arguments);
}

bool TypeText(const std::string& text) { return XDoTool({"type", text}); }

std::string EditText(HWND edit) {
    wchar_t wide[1024] = {};
    SendMessageW(edit, WM_GETTEXT, sizeof(wide) / sizeof(wide[0]), reinterpret_cast<LPARAM>(wide));
    char text[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

}  // namespace testsupport
