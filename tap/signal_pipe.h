// The signals that end the native programs (INT, TERM, HUP) and SIGCHLD,
// turned into bytes in a pipe that their poll loop watches: the handler only
// writes the signal's number, and everything else happens on the loop's
// thread, in order (so a second Ctrl+C during the end changes nothing).
// SIGPIPE is ignored: a reader that went is an error on the write.
#pragma once

namespace tap {

// Installs the handlers; false when the pipe cannot be made.
bool CatchSignals();
// The pipe's read end: readable when a signal came.
int SignalPipe();
// Reads every signal that waits: 128 + the number of the first one that
// ends the program, or 0 when none did (SIGCHLD alone).
int TakeEndingSignal();

}  // namespace tap
