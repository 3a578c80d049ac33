#pragma once

// Xlib reports protocol errors through one handler for the whole process, and
// its default handler ends the process. The trap is that one handler: it is
// installed once and never swapped, and it records the first error of every
// connection separately, so an error on one thread's connection fails only
// that connection's request and is seen by no other.

typedef struct _XDisplay Display;

namespace platform {

// Installs the handler unless it is in place already. Safe from any thread;
// call it before the first request on a connection of your own.
void InstallXErrorTrap();

// Drops what was recorded for `display` (its address may be reused by the
// next connection). Call it right before XCloseDisplay.
void ForgetXErrors(Display* display);

// Waits until the server has handled every request sent on `display`, then
// returns the error code of the first error recorded for it since the last
// check (0 for none) and clears the record.
int SyncAndTakeXError(Display* display);

}  // namespace platform
