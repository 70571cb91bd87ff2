#include "ui/flash_brushes.h"

#include "system/scoped_handles.h"

namespace quorvel {
namespace {

// Guarded by g_setLock: made by the first capture thread, deleted by the
// main thread once no capture thread runs.
HBRUSH g_brushes[kFlashColours + 1] = {};
volatile LONG g_created = 0;  // 1 once the set exists
ProcessLock g_setLock;

void DeleteAll() {
    for (HBRUSH& brush : g_brushes) {
        if (brush) DeleteObject(brush);
        brush = nullptr;
    }
}

}  // namespace

COLORREF FlashColour(uint32_t colourIndex) {
    return RGB((colourIndex & 1) ? 127 : 0, (colourIndex & 2) ? 127 : 0,
               (colourIndex & 4) ? 127 : 0);
}

bool EnsureFlashBrushes() {
    if (g_created) return true;
    ScopedLock<ProcessLock> guard(g_setLock);
    if (g_created) return true;
    bool ok = true;
    for (uint32_t i = 1; i <= kFlashColours && ok; ++i) {
        g_brushes[i] = CreateSolidBrush(FlashColour(i));
        ok = g_brushes[i] != nullptr;
    }
    if (ok) {
        InterlockedExchange(&g_created, 1);
    } else {
        DeleteAll();
    }
    return ok;
}

HBRUSH FlashBrush(uint32_t colourIndex) { return g_brushes[colourIndex]; }

void DeleteFlashBrushes() {
    ScopedLock<ProcessLock> guard(g_setLock);
    DeleteAll();
    InterlockedExchange(&g_created, 0);
}

}  // namespace quorvel
