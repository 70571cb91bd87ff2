#include "support/process_windows.h"

namespace testsupport {
namespace {

struct Search {
    DWORD ProcessId;
    const char* ClassName;
    HWND Found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (owner == search->ProcessId && IsWindowVisible(window) &&
        lstrcmpA(className, search->ClassName) == 0) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND WaitForProcessWindow(DWORD processId, const char* className, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        Search search{processId, className, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.Found) return search.Found;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(20);
    }
}

std::vector<HWND> ChildWindows(HWND window) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

std::vector<std::string> ListBoxLines(HWND listBox) {
    std::vector<std::string> lines;
    LRESULT count = SendMessageW(listBox, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(listBox, LB_GETTEXTLEN, i, 0);
        if (length < 0) break;
        std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide.data()));
        wide.resize(static_cast<size_t>(length));
        std::string line(wide.size() * 2 + 1, '\0');
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                        line.data(), static_cast<int>(line.size()), nullptr, nullptr);
        line.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> OwnListBoxLines(HWND listBox) {
    std::vector<std::string> lines;
    LRESULT count = SendMessageA(listBox, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageA(listBox, LB_GETTEXTLEN, i, 0);
        if (length < 0) break;
        std::string line(static_cast<size_t>(length) + 1, '\0');
        SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        line.resize(static_cast<size_t>(length));
        lines.push_back(line);
    }
    return lines;
}

}  // namespace testsupport
