// Serving the test thread's windows while a test waits for something that
// other threads do to them.
#pragma once

#include <windows.h>

namespace testsupport {

// Processes this thread's messages until done() holds or timeoutMs passed.
// True when done() held.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Processes this thread's messages for ms milliseconds.
inline void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

}  // namespace testsupport
