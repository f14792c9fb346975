// SPDX-License-Identifier: MIT
#include "calibration/upload.h"

#include "link/commands.h"
#include "platform/clock.h"

namespace calibration {

UploadEnd upload(devlink::Line& line, const CalTable& table, std::int16_t rowCount) {
    using namespace devlink::cmd;
    const auto sendAndWait = [&line](const QString& command) {
        line.SendCommand(terminated(command));
        line.clearReply();
        line.DelayMs(50);
        return !line.stopped();
    };

    for (int k = 0; k < rowCount; ++k) {
        if (!sendAndWait(writeSlot(k)) ||
            !sendAndWait(slotValue(table.calTable[static_cast<std::size_t>(k)]))) {
            return UploadEnd::Stopped;
        }
    }
    line.DelayMs(50);
    if (line.stopped()) {
        return UploadEnd::Stopped;
    }
    if (!line.replied()) {
        return UploadEnd::NoResponse;
    }
    if (!sendAndWait(writeSlot(kSlotMin)) || !sendAndWait(slotValue(table.calMin)) ||
        !sendAndWait(writeSlot(kSlotMax))) {
        return UploadEnd::Stopped;
    }
    line.SendCommand(terminated(slotValue(table.calMax)));
    line.clearReply();
    line.storeRange(table.calMin, table.calMax);

    // Date and time from one reading of the clock, so that a stamp taken at midnight cannot mix two days.
    const QDateTime now = platform::Now();
    const QString timeText = now.toString(QStringLiteral("hhmmss"));
    const QString dateText = now.toString(QStringLiteral("yyyyMMdd"));

    line.DelayMs(50);
    if (line.stopped()) {
        return UploadEnd::Stopped;
    }
    if (!sendAndWait(writeSlot(kSlotYear)) || !sendAndWait(slotDigits(dateText.left(4))) ||
        !sendAndWait(writeSlot(kSlotMonthDay)) || !sendAndWait(slotDigits(dateText.right(4))) ||
        !sendAndWait(writeSlot(kSlotHourMinute)) || !sendAndWait(slotDigits(timeText.left(4)))) {
        return UploadEnd::Stopped;
    }
    return UploadEnd::Done;
}

} // namespace calibration
