// SPDX-License-Identifier: MIT
#pragma once
// Stopping a command-line program cleanly on SIGINT and SIGTERM (on Windows Ctrl+C, Ctrl+Break and the
// console closing): the signal is only noted, and the program's own loop ends what it is doing at its next
// step.

#include <functional>
#include <initializer_list>

class QObject;

namespace platform {

// From now on each stop signal calls `stop` on the thread of `context`, from its event loop.
void onStopSignals(QObject* context, std::function<void()> stop);

// The last stop signal caught (SIGINT for Windows' console events), 0 before the first.
int caughtStopSignal();

// A program with a poll() loop of its own (POSIX only):

// From now on SIGINT, SIGTERM and the signals in `more` write one byte each to a non-blocking pipe instead
// of ending the program. System calls they interrupt are not restarted, so a prompt gives up too. Returns the
// pipe's read end, or -1 when no pipe could be made (the signals then keep their default effect).
int catchStopSignals(std::initializer_list<int> more = {});

// Empties the pipe after its read end became readable.
void drainStopSignals(int readEnd);

} // namespace platform
