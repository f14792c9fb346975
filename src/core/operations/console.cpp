// SPDX-License-Identifier: MIT
#include "operations/console.h"

#include "device/commands.h"

namespace devlink {

void readStamp(Line& line) {
    for (const int slot : {cmd::kSlotYear, cmd::kSlotMonthDay, cmd::kSlotHourMinute}) {
        line.SendCommand(cmd::terminated(cmd::readSlot(slot)));
        line.clearReply();
        if (slot != cmd::kSlotHourMinute) {
            line.DelayMs(50);
            if (line.stopped()) {
                return;
            }
        }
    }
}

void consoleSend(Line& line, const QString& text) {
    line.setLastCmd(text);
    sendFromConsole(line, text);
}

void console(Line& line, const QString& command) {
    // The operator sees every single command of the panel in the console before it goes out.
    line.showCommand(command);
    consoleSend(line, command);
}

void sendFromConsole(Line& line, const QString& text) {
    if (text == cmd::kGetWord) {
        readStamp(line);
        return;
    }
    line.SendCommand(cmd::terminated(text));
    // Each console send gets its own full second for an answer.
    line.armTimeout();
    line.clearReply();
}

} // namespace devlink
