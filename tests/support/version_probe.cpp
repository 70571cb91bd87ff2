// A small GUI program that the harness tests run as a child process.
//
//   version_probe                        exits with the Windows version it
//                                        sees: platform * 10000 + major * 100
//                                        + minor (Windows 2000: 20500)
//   version_probe --wait-for NAME        the same, once the named event is set
//                                        (so a test can look at the running
//                                        process); exits with 1 if it is not
//                                        set within 10 s
//   version_probe --message-boxes        shows the message boxes listed in
//                                        kBoxes one after another; exits with
//                                        the number answered with IDOK
#include <windows.h>

#include <cstring>

namespace {

constexpr DWORD kEventWaitMs = 10000;

struct Box {
    const char* caption;
    const char* text;
    UINT style;
    bool owned;  // owned by the probe's window titled "Probe owner"
};

// The harness tests expect exactly these boxes, in this order.
const Box kBoxes[] = {
    {"Probe warning", "Line one\n\tLine two", MB_OK | MB_ICONWARNING, false},
    {"Probe error", "Owned by the probe \xe9", MB_OK | MB_ICONERROR, true},
    {"Probe information", "Information", MB_OK | MB_ICONINFORMATION, false},
    {"Probe question", "Question", MB_OK | MB_ICONQUESTION, false},
};

int VersionCode() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return 0;
    return static_cast<int>(version.dwPlatformId * 10000 + version.dwMajorVersion * 100 +
                            version.dwMinorVersion);
}

int ShowBoxes() {
    // Hidden: ownership does not need it shown, and under Wine without a
    // window manager a shown window takes about 2 s to destroy.
    HWND owner = CreateWindowExA(0, "STATIC", "Probe owner", WS_OVERLAPPED, 0, 0, 160, 60, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    int answeredOk = 0;
    for (const auto& box : kBoxes) {
        if (MessageBoxA(box.owned ? owner : nullptr, box.text, box.caption, box.style) == IDOK) {
            ++answeredOk;
        }
    }
    DestroyWindow(owner);
    return answeredOk;
}

int VersionCodeWhenSignalled(const char* eventName) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, eventName);
    if (!event) return 1;
    const DWORD waited = WaitForSingleObject(event, kEventWaitMs);
    CloseHandle(event);
    return waited == WAIT_OBJECT_0 ? VersionCode() : 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    constexpr char kWaitFor[] = "--wait-for ";
    if (std::strcmp(commandLine, "--message-boxes") == 0) return ShowBoxes();
    if (std::strncmp(commandLine, kWaitFor, sizeof kWaitFor - 1) == 0) {
        return VersionCodeWhenSignalled(commandLine + sizeof kWaitFor - 1);
    }
    return VersionCode();
}
