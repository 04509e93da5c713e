#pragma once

// The signals that ask a program to end: SIGINT (Ctrl+C), SIGTERM (kill, shutdown) and SIGHUP
// (its terminal gone). Plain POSIX, for the console and the simulator alike.

namespace qx200 {

// Blocks the stop signals in the calling thread, and so in every thread it starts afterwards,
// and returns a non-blocking, close-on-exec signalfd that reads them; -1 with errno set when
// none can be made. Call it before any other thread exists: a thread that does not block them
// would still be ended by one.
int openStopSignals();

} // namespace qx200
