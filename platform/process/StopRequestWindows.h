// The console's events as Windows delivers them to a program that asked for
// stop requests (WorkerProcess.h): on a thread of its own for each event,
// which the system ends the program after for a console that closes, a
// logoff or a shutdown. Named here for the tests, since no program can send
// another those three events.
#pragma once

namespace platform {

// Serves one event (CTRL_C_EVENT ... CTRL_SHUTDOWN_EVENT): calls the stop
// handler, and for the three that end the program waits for
// StopRequestServed first, as long as Windows gives. Nonzero when handled.
int ServeConsoleEvent(unsigned long event);

}  // namespace platform
