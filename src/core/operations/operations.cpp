// SPDX-License-Identifier: MIT
#include "operations/operations.h"

#include "device/commands.h"
#include "device/number.h"
#include "operations/console.h"

namespace filter {

namespace {
// Limits the box's value (or `fallback` when its text does not convert), writes it back and sends it.
std::int32_t limitAndSend(devlink::Line& line, Field& box, LimitKind kind, QString (*command)(std::int32_t),
                          std::int32_t fallback) {
    const std::int32_t value = line.limit(kind, wholeValue(box.text()).value_or(fallback));
    box.setText(QString::number(value));
    devlink::console(line, command(value));
    return value;
}
} // namespace

std::int32_t tune(devlink::Line& line, Field& box, LimitKind kind, QString (*command)(std::int32_t)) {
    // A text too large for 32 bits leaves the working value at 0, which the limit then raises.
    return limitAndSend(line, box, kind, command, 0);
}

void calibrate(devlink::Line& line) {
    devlink::console(line, devlink::cmd::calibrate());
}

void scanSetting(devlink::Line& line, Field& start, Field& end, Field& stay) {
    std::int32_t value = limitAndSend(line, start, kWavelength, &devlink::cmd::scanStart, 0);
    line.disarmTimeout();
    line.DelayMs(500);
    if (line.stopped()) {
        return;
    }
    value = limitAndSend(line, end, kWavelength, &devlink::cmd::scanEnd, value);
    line.disarmTimeout();
    line.DelayMs(500);
    if (line.stopped()) {
        return;
    }
    limitAndSend(line, stay, kStayTime, &devlink::cmd::stayTime, value);
}

std::int32_t scan(devlink::Line& line, const QString& span) {
    const std::int32_t value = line.limit(kSteps, wholeValue(span).value_or(0));
    devlink::console(line, devlink::cmd::scanSpan(value));
    return value;
}

void selectOutput(devlink::Line& line, int index) {
    devlink::console(line, devlink::cmd::channel(index));
}

} // namespace filter
