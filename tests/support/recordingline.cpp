// SPDX-License-Identifier: MIT
#include "support/recordingline.h"

#include "device/commands.h"

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

void RecordingLine::setLimits(filter::Limits limits) {
    log << QStringLiteral("limits %1 %2").arg(limits.swMin).arg(limits.swMax);
    limitsInForce = limits;
}

} // namespace testsupport
