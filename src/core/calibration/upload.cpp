// SPDX-License-Identifier: MIT
#include "calibration/upload.h"

#include "device/commands.h"
#include "system/clock.h"

namespace calibration {

namespace {

// The upload's commands, each followed by a clearing of the reply and a wait of 50 ms. A value (Y) is written
// into the slot that the command before it (X) named, so it goes out only while every command of the upload
// has gone out over the connection that the upload began on: once one is lost (the port closed or went away)
// the device's slot is unknown, no value follows, and the upload cannot succeed. Slot commands are still
// handed over: on a closed port they warn the operator as every command does, and a slot alone writes
// nothing.
class Pairs {
  public:
    explicit Pairs(devlink::Line& line) : line_(line), connection_(line.connection()) {}

    // Hands the command over and clears the reply.
    void hand(const QString& command, bool value) {
        intact_ = intact();
        if (!value || intact_) {
            intact_ = line_.SendCommand(devlink::cmd::terminated(command)) && intact_;
        }
        line_.clearReply();
    }
    // Hands the command over and waits; false when the line was stopped meanwhile.
    bool send(const QString& command, bool value) {
        hand(command, value);
        return wait();
    }
    bool slot(int slot, const QString& value) {
        return send(devlink::cmd::writeSlot(slot), false) && send(value, true);
    }
    bool wait() {
        line_.DelayMs(50);
        return !line_.stopped();
    }
    // Everything so far went out, over the connection the upload began on.
    bool intact() const { return intact_ && line_.connection() == connection_; }

  private:
    devlink::Line& line_;
    const std::uint32_t connection_;
    bool intact_ = true;
};

} // namespace

UploadEnd upload(devlink::Line& line, const CalTable& table, std::int16_t rowCount,
                 const settings::SettingsFile& settings) {
    using namespace devlink::cmd;
    Pairs out(line);
    for (int k = 0; k < rowCount; ++k) {
        if (!out.slot(k, slotValue(table.calTable[static_cast<std::size_t>(k)]))) {
            return UploadEnd::Stopped;
        }
    }
    if (!out.wait()) {
        return UploadEnd::Stopped;
    }
    if (!line.replied() || !out.intact()) {
        return UploadEnd::NoResponse;
    }
    if (!out.slot(kSlotMin, slotValue(table.calMin)) || !out.send(writeSlot(kSlotMax), false)) {
        return UploadEnd::Stopped;
    }
    out.hand(slotValue(table.calMax), true);

    // Date and time from one reading of the clock, so that a stamp taken at midnight cannot mix two days.
    const QDateTime now = platform::Now();
    const QString timeText = now.toString(QStringLiteral("hhmmss"));
    const QString dateText = now.toString(QStringLiteral("yyyyMMdd"));

    const bool stamped = out.wait() && out.slot(kSlotYear, slotDigits(dateText.left(4))) &&
                         out.slot(kSlotMonthDay, slotDigits(dateText.right(4))) &&
                         out.slot(kSlotHourMinute, slotDigits(timeText.left(4)));
    // The range is the device's once the table and the range have reached it over one unbroken connection;
    // it is stored then, also when the front end stopped during the stamp, and never after a lost command.
    if (out.intact()) {
        line.setLimits(settings.storeRange(table.calMin, table.calMax, line.limits()));
    }
    if (!stamped) {
        return UploadEnd::Stopped;
    }
    return out.intact() ? UploadEnd::Done : UploadEnd::NoResponse;
}

} // namespace calibration
