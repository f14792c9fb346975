// SPDX-License-Identifier: MIT
#include "operations/autocycle.h"

#include "device/commands.h"
#include "device/number.h"

#include <limits>

namespace filter {

void AutoCycle::tick(devlink::Line& line, const Boxes& boxes) {
    // The sending phases are looked at from the last to the first, so a tick sends at most one command: each
    // moves on to the wait after it.
    for (const int step : {2, 1, 0}) {
        if (autoPhase == 2 * step + 1) {
            const QString command = boxes.commands[static_cast<std::size_t>(step)]->text();
            line.setLastCmd(command);
            line.SendCommand(devlink::cmd::terminated(command));
            autoPhase = 2 * step + 2;
            autoCount = 0;
        }
    }
    if (autoCount < std::numeric_limits<std::int32_t>::max()) {
        ++autoCount;
    }
    // The tick that sent a command is already the first of the wait after it; a wait below 1 ends at once.
    for (const int step : {0, 1, 2}) {
        if (autoCount > readNumber(boxes.waits[static_cast<std::size_t>(step)]->text()) &&
            autoPhase == 2 * step + 2) {
            autoPhase = step == 2 ? 1 : 2 * step + 3;
        }
    }
}

} // namespace filter
