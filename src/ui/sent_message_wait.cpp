#include "ui/sent_message_wait.h"

namespace quorvel {

namespace {

// Peeking serves the sent messages; it removes no posted one.
void ServeSentMessages() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

DWORD WaitServingSentMessages(HANDLE handle) {
    for (;;) {
        DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return WAIT_OBJECT_0;
        if (result != WAIT_OBJECT_0 + 1) return WAIT_FAILED;
        ServeSentMessages();
    }
}

void SleepServingSentMessages(DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return;
        DWORD result =
            MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_TIMEOUT) return;
        if (result != WAIT_OBJECT_0) {
            Sleep(milliseconds - elapsed);  // the wait failed: sleep out the rest plainly
            return;
        }
        ServeSentMessages();
    }
}

}  // namespace quorvel
