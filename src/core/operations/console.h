// SPDX-License-Identifier: MIT
#pragma once
// The console's send, shared by every single-command operation of both front ends.

#include "line/line.h"

namespace devlink {

// Sends `text` as the console does: "get" becomes the three product-date reads 50 ms apart, without the
// time-out; any other text goes out with the terminator, arms the time-out and clears the last reply.
void sendFromConsole(Line& line, const QString& text);

// The three product-date reads (W103, W104, W105), 50 ms apart; each clears the last reply.
void readStamp(Line& line);

} // namespace devlink
