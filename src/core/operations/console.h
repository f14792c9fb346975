// SPDX-License-Identifier: MIT
#pragma once
// The console's send, shared by every single-command operation of every front end.

#include "line/line.h"

namespace devlink {

// The console's Send of what the operator typed: recorded as the last command, then sent as below.
void consoleSend(Line& line, const QString& text);

// An operation's single command: shown in the console's command box, then sent as the console's Send sends
// what the operator typed.
void console(Line& line, const QString& command);

// Sends `text` as the console does: "get" becomes the three product-date reads 50 ms apart, without the
// time-out; any other text goes out with the terminator, arms the time-out and clears the last reply.
void sendFromConsole(Line& line, const QString& text);

// The three product-date reads (W103, W104, W105), 50 ms apart; each clears the last reply.
void readStamp(Line& line);

} // namespace devlink
