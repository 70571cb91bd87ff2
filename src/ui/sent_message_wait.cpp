#include "ui/sent_message_wait.h"

namespace quorvel {

DWORD WaitServingSentMessages(HANDLE handle) {
    for (;;) {
        DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return WAIT_OBJECT_0;
        if (result != WAIT_OBJECT_0 + 1) return WAIT_FAILED;
        // Peeking serves the sent messages; it removes no posted one.
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace quorvel
