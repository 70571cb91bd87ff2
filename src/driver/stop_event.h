// StopEvent: the unnamed manual-reset event that ends the port watcher and
// every capture thread. Created by the start-up before any of them runs,
// signalled once at the main window's destruction, closed after the message
// loop. Written by the main thread only; read by the watcher and the capture
// threads while they run.
#pragma once

#include <windows.h>

namespace quorvel {

extern HANDLE StopEvent;

}  // namespace quorvel
