#include "support/message_box_capture.h"

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

namespace testsupport {
namespace {

// The static control that holds a message box's text.
constexpr int kTextControlId = 0xFFFF;
constexpr DWORD kPollMs = 10;
// Bound on every message sent to the box, so a hung owner cannot hang the test.
constexpr DWORD kMessageTimeoutMs = 2000;
constexpr DWORD kHideWaitMs = 5000;
// Bound on recognising the icon of another process's box (see message_box_icon.cpp).
constexpr DWORD kIconRecognitionMs = 3000;

// A message box is ready to read once visible: it is shown only after its
// dialog procedure has set the caption, text and icon.
bool IsVisibleDialog(HWND window) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    return std::strcmp(className, "#32770") == 0 && IsWindowVisible(window);
}

struct DialogSearch {
    DWORD processId = 0;  // 0: any (EnumThreadWindows already picked the thread)
    const std::set<HWND>* skip = nullptr;
    HWND found = nullptr;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM parameter) {
    auto& search = *reinterpret_cast<DialogSearch*>(parameter);
    if (search.processId != 0) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId != search.processId) return TRUE;
    }
    if (search.skip && search.skip->count(window)) return TRUE;
    if (!IsVisibleDialog(window)) return TRUE;
    search.found = window;
    return FALSE;
}

HWND FindThreadDialog(DWORD threadId, const std::set<HWND>& skip) {
    DialogSearch search;
    search.skip = &skip;
    EnumThreadWindows(threadId, CheckWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindProcessDialog(DWORD processId) {
    DialogSearch search;
    search.processId = processId;
    EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Window text through the W form of WM_GETTEXT, which Wine passes correctly
// across processes, converted to the ANSI code page.
std::string ReadText(HWND window) {
    DWORD_PTR length = 0;
    if (!window || !SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                        kMessageTimeoutMs, &length)) {
        return {};
    }
    std::wstring wide(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(wide.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied)) {
        return {};
    }
    wide.resize(copied);
    if (wide.empty()) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string text(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
    return text;
}

// The button Enter would press: the message box gives its default button
// (MB_DEFBUTTONn) the BS_DEFPUSHBUTTON style and the focus. DM_GETDEFID is
// no help: Wine's message box answers IDOK whatever its buttons are.
int DefaultButton(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = {};
        GetClassNameA(child, className, sizeof className);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (_stricmp(className, "Button") == 0 && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
            IsWindowVisible(child)) {
            return GetDlgCtrlID(child);
        }
    }
    return GetDlgItem(dialog, IDOK) ? IDOK : IDCANCEL;
}

// A dismissed box is hidden at once; under Wine without a window manager its
// destruction follows about 2 s later. Once hidden it no longer counts as a
// box on screen, so waiting for that is enough.
void WaitUntilHidden(HWND dialog) {
    const DWORD startTick = GetTickCount();
    while (IsWindowVisible(dialog) && GetTickCount() - startTick < kHideWaitMs) Sleep(kPollMs);
}

CapturedMessageBox ReadAndDismiss(HWND dialog) {
    CapturedMessageBox box;
    box.found = true;
    box.caption = ReadText(dialog);
    box.text = ReadText(GetDlgItem(dialog, kTextControlId));
    box.owner = GetWindow(dialog, GW_OWNER);
    box.icon = ReadMessageBoxIcon(dialog, kIconRecognitionMs);
    box.pressedButton = DefaultButton(dialog);
    // Posted, as a click of the button would be: the box's thread may be
    // this process's calling thread, busy in the box's modal loop.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(box.pressedButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, box.pressedButton)));
    WaitUntilHidden(dialog);
    return box;
}

}  // namespace

std::vector<CapturedMessageBox> CaptureMessageBoxes(const std::function<void()>& action,
                                                    DWORD timeoutMs) {
    const DWORD threadId = GetCurrentThreadId();
    const DWORD startTick = GetTickCount();
    std::atomic<bool> actionReturned{false};
    std::vector<CapturedMessageBox> boxes;

    std::thread watcher([&] {
        std::set<HWND> handled;  // a box that ignores its dismissal is read only once
        while (!actionReturned) {
            HWND dialog = FindThreadDialog(threadId, handled);
            if (!dialog) {
                Sleep(kPollMs);
                continue;
            }
            handled.insert(dialog);
            const bool inTime = GetTickCount() - startTick < timeoutMs;
            CapturedMessageBox box = ReadAndDismiss(dialog);
            if (inTime) boxes.push_back(std::move(box));
        }
    });
    try {
        action();
    } catch (...) {
        actionReturned = true;
        watcher.join();
        throw;
    }
    actionReturned = true;
    watcher.join();
    return boxes;
}

CapturedMessageBox CaptureMessageBox(const std::function<void()>& action, DWORD timeoutMs) {
    const auto boxes = CaptureMessageBoxes(action, timeoutMs);
    return boxes.empty() ? CapturedMessageBox{} : boxes.front();
}

CapturedMessageBox WaitForProcessMessageBox(DWORD processId, DWORD timeoutMs) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return {};  // already gone
    const DWORD startTick = GetTickCount();
    CapturedMessageBox box;
    while (GetTickCount() - startTick < timeoutMs) {
        if (HWND dialog = FindProcessDialog(processId)) {
            box = ReadAndDismiss(dialog);
            break;
        }
        if (WaitForSingleObject(process, kPollMs) == WAIT_OBJECT_0) break;
    }
    CloseHandle(process);
    return box;
}

}  // namespace testsupport

