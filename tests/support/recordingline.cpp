// SPDX-License-Identifier: MIT
#include "support/recordingline.h"

#include "device/commands.h"
#include "operations/console.h"

namespace testsupport {

QStringList RecordingLine::commands() const {
    QStringList out;
    for (const QString& entry : log) {
        if (entry.endsWith(QLatin1Char(devlink::cmd::kTerminator)) &&
            !entry.startsWith(QLatin1String("lost "))) {
            out << entry.chopped(1);
        }
    }
    return out;
}

bool RecordingLine::SendCommand(QString text) {
    if (stopped()) {
        return false;
    }
    const QString command = devlink::cmd::trimBlanks(text);
    if (!portOpen) {
        log << QStringLiteral("lost ") + command;
        return false;
    }
    log << command;
    pending_ = device(command.chopped(command.endsWith(QLatin1Char(devlink::cmd::kTerminator)) ? 1 : 0));
    return true;
}

void RecordingLine::setPortOpen(bool open) {
    log << (open ? QStringLiteral("port opened") : QStringLiteral("port closed"));
    portOpen = open;
    ++connectionNumber;
    pending_.clear();
}

void RecordingLine::DelayMs(std::int32_t HowLong) {
    log << QStringLiteral("wait %1").arg(HowLong);
    now += std::max<std::int32_t>(HowLong, 0) + 1;
    if (!pending_.isEmpty()) {
        replyText = std::exchange(pending_, {});
    }
    ++waits_;
    if (duringWait) {
        duringWait(waits_);
    }
}

void RecordingLine::clearReply() {
    log << QStringLiteral("clear");
    replyText.clear();
}

void RecordingLine::console(const QString& command) {
    log << QStringLiteral("show ") + command;
    lastCmd = command;
    devlink::sendFromConsole(*this, command);
}

std::int32_t RecordingLine::limit(filter::LimitKind kind, std::int32_t nVal) const {
    return filter::setLimit(kind, nVal, swMin, swMax);
}

void RecordingLine::storeRange(std::int32_t calMin, std::int32_t calMax) {
    log << QStringLiteral("store %1 %2").arg(calMin).arg(calMax);
    swMin = calMin;
    swMax = calMax;
}

} // namespace testsupport
