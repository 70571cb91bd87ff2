#include "ui/pane_call_gate.h"

namespace quorvel {

PaneCallGate CaptureThreadsPaneCalls;

void PaneCallGate::Enter() {
    lock_.Enter();
    DWORD now = GetTickCount();
    if (now - lastLeave_ > kPaneCallQuietMs) {
        busySince_ = now;  // the calls had a pause of their own
    } else if (now - busySince_ >= kPaneCallBusyMs) {
        Sleep(kPaneCallQuietMs);
        busySince_ = GetTickCount();
    }
}

void PaneCallGate::Leave() {
    lastLeave_ = GetTickCount();
    lock_.Leave();
}

}  // namespace quorvel
