#include "port/capture_pane.h"

namespace quorvel {
namespace {

HBRUSH NoBackground(HWND) { return nullptr; }
bool NothingToPrepare() { return true; }
void ShowNothing(HWND) {}
bool NoFlash(HWND, uint32_t) { return false; }
void RestoreNothing(HWND, HBRUSH, bool) {}
void ReportNothing(HWND, PortMonitor*) {}
void AskNothing() {}

const CapturePane kNoPane = {NoBackground, NothingToPrepare, ShowNothing, NoFlash, RestoreNothing, ReportNothing,
                             AskNothing};

// Written by the main thread before any capture thread starts.
const CapturePane* g_pane = &kNoPane;

}  // namespace

void SetCapturePane(const CapturePane* pane) { g_pane = pane ? pane : &kNoPane; }

const CapturePane& CurrentCapturePane() { return *g_pane; }

}  // namespace quorvel
