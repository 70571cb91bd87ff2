#include "port/flash_brushes.h"

namespace quorvel {
namespace {

HBRUSH g_brushes[kFlashColours + 1] = {};
volatile LONG g_created = 0;   // 1 once the set exists
volatile LONG g_creating = 0;  // taken by the thread that creates or deletes the set

void TakeSetLock() {
    while (InterlockedExchange(&g_creating, 1) != 0) Sleep(0);
}

void GiveSetLock() { InterlockedExchange(&g_creating, 0); }

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
    TakeSetLock();
    bool ok = true;
    if (!g_created) {
        for (uint32_t i = 1; i <= kFlashColours && ok; ++i) {
            g_brushes[i] = CreateSolidBrush(FlashColour(i));
            ok = g_brushes[i] != nullptr;
        }
        if (ok) {
            InterlockedExchange(&g_created, 1);
        } else {
            DeleteAll();
        }
    }
    GiveSetLock();
    return ok;
}

HBRUSH FlashBrush(uint32_t colourIndex) { return g_brushes[colourIndex]; }

void DeleteFlashBrushes() {
    TakeSetLock();
    DeleteAll();
    InterlockedExchange(&g_created, 0);
    GiveSetLock();
}

}  // namespace quorvel
