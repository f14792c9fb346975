// SPDX-License-Identifier: MIT
#include "context.h"

#include "device/number.h"

namespace scpiserver {

std::int32_t settingDefault(const settings::Key& key) {
    return filter::wholeValue(QString::fromLatin1(key.def)).value_or(0);
}

Settings Settings::defaults(const filter::Limits& limits) {
    Settings s;
    s.step = settingDefault(settings::kStepUp);
    // The panel's scan boxes start at the ends of the range.
    s.sweepStart = limits.swMin;
    s.sweepStop = limits.swMax;
    s.dwell = settingDefault(settings::kStayTime);
    s.sweepStep = settingDefault(settings::kSpan);
    return s;
}

bool arity(Context& context, const scpi::Call& call, int least, int most) {
    const qsizetype given = call.unit.params.size();
    if (given < least) {
        context.error(scpi::ErrorCode::MissingParameter, QString::fromLatin1(call.unit.header));
        return false;
    }
    if (given > most) {
        context.error(scpi::ErrorCode::ParameterNotAllowed, QString::fromLatin1(call.unit.header));
        return false;
    }
    return true;
}

QString written(const scpi::Call& call, int param) {
    return QString::fromLatin1(call.unit.header) + QLatin1Char(' ') +
           QString::fromLatin1(call.unit.params.value(param).written);
}

std::optional<Work> handle(Context& context, const scpi::Call& call) {
    switch (call.command) {
    case scpi::Command::Wavelength:
    case scpi::Command::WavelengthStep:
    case scpi::Command::SweepStart:
    case scpi::Command::SweepStop:
    case scpi::Command::SweepDwell:
    case scpi::Command::SweepStep:
    case scpi::Command::Sweep:
    case scpi::Command::Frequency:
    case scpi::Command::Channel:
    case scpi::Command::CalibrationDate:
    case scpi::Command::CalibrationData:
    case scpi::Command::DeviceCommand:
        return handleFilter(context, call);
    default:
        return handleCommon(context, call);
    }
}

} // namespace scpiserver
