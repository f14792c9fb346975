// SPDX-License-Identifier: MIT
#pragma once
// Stopping a command-line program cleanly on SIGINT and SIGTERM: the signal is only noted and written to a
// pipe, and the program's own loop (poll() or a socket notifier on the pipe's read end) ends what it is
// doing at its next step.

#include <initializer_list>

namespace platform {

// From now on SIGINT, SIGTERM and the signals in `more` write one byte each to a non-blocking pipe instead
// of ending the program. System calls they interrupt are not restarted, so a prompt gives up too. Returns the
// pipe's read end, or -1 when no pipe could be made (the signals then keep their default effect).
int catchStopSignals(std::initializer_list<int> more = {});

// The last stop signal caught, 0 before the first.
int caughtStopSignal();

// Empties the pipe after its read end became readable.
void drainStopSignals(int readEnd);

} // namespace platform
