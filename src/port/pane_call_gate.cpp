#include "port/pane_call_gate.h"

namespace quorvel {
namespace {

CRITICAL_SECTION* GateLock() {
    static CRITICAL_SECTION* lock = [] {
        auto* section = new CRITICAL_SECTION;  // never deleted: capture threads may outlive statics
        InitializeCriticalSection(section);
        return section;
    }();
    return lock;
}

// Both guarded by the gate lock; written and read by capture threads only.
DWORD g_busySince = 0;  // tick of the first call of the current streak
DWORD g_lastLeave = 0;  // tick of the end of the last call

}  // namespace

void EnterPaneCalls() {
    EnterCriticalSection(GateLock());
    DWORD now = GetTickCount();
    if (now - g_lastLeave > kPaneCallQuietMs) {
        g_busySince = now;  // the calls had a pause of their own
    } else if (now - g_busySince >= kPaneCallBusyMs) {
        Sleep(kPaneCallQuietMs);
        g_busySince = GetTickCount();
    }
}

void LeavePaneCalls() {
    g_lastLeave = GetTickCount();
    LeaveCriticalSection(GateLock());
}

}  // namespace quorvel
