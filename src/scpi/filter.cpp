// SPDX-License-Identifier: MIT
// The filter's headers: tuning by wavelength or frequency, the steps, the scan, the switch, the
// calibration's date stamp, and with --engineering the raw command and the calibration upload. Every device
// operation is the core's (service::Instrument); values are limited as the panel limits them, and a value
// that went out or is kept other than written leaves a -222 saying so.

#include "context.h"
#include "device/number.h"
#include "device/texts.h"
#include "parser/values.h"
#include "texts.h"

#include <QBuffer>
#include <algorithm>
#include <cmath>
#include <limits>

namespace scpiserver {

namespace {

using scpi::Command;
using scpi::ErrorCode;
using scpi::Quantity;
using service::Instrument;
using service::Outcome;
using Outcomes = std::vector<Outcome>;

constexpr double kLight = 299792458; // m/s
// The stay time's unit, 100 ms, in seconds.
constexpr double kDwellUnit = 0.1;
// The 1x4 switch.
constexpr int kOutputs = 4;

// Wavelength in nm and frequency in THz, into each other.
double convert(double value) {
    return kLight / value * 1e-3;
}

// A number as the device takes it: rounded as the panel rounds (halves to even), a number beyond 32 bits to
// the nearest end of them (the panel's boxes would read it as 0).
double within32(double value) {
    return std::clamp(value, double(std::numeric_limits<std::int32_t>::min()),
                      double(std::numeric_limits<std::int32_t>::max()));
}
std::int32_t whole(double value) {
    return filter::roundToInt32(within32(value)).value_or(0);
}

std::int32_t limit(const Context& c, filter::LimitKind kind, std::int32_t value) {
    const filter::Limits now = c.instrument.limits();
    return filter::setLimit(kind, value, now.swMin, now.swMax);
}

// MIN and MAX of a kind of value, and its default, in units of `scale`.
scpi::Bounds bounds(const Context& c, filter::LimitKind kind, std::optional<std::int32_t> def,
                    double scale = 1) {
    scpi::Bounds b{limit(c, kind, std::numeric_limits<std::int32_t>::min()) * scale,
                   limit(c, kind, std::numeric_limits<std::int32_t>::max()) * scale, std::nullopt};
    if (def) {
        b.def = limit(c, kind, *def) * scale;
    }
    return b;
}

std::optional<double> numeric(Context& c, const scpi::Call& call, Quantity quantity, const scpi::Bounds& b) {
    const auto value = scpi::numeric(call.unit.params[0], quantity, b);
    if (const auto* fault = std::get_if<scpi::Error>(&value)) {
        c.error(*fault);
        return std::nullopt;
    }
    return std::get<double>(value);
}

// A query: the value in force (not a number when not known), or MIN, MAX or DEF.
void answer(Context& c, const scpi::Call& call, Quantity quantity, const scpi::Bounds& b,
            std::optional<double> current) {
    if (!arity(c, call, 0, 1)) {
        return;
    }
    if (call.unit.params.isEmpty()) {
        c.answer(scpi::number(current.value_or(scpi::kNotANumber)));
        return;
    }
    if (call.unit.params[0].kind == scpi::Param::Kind::Number) {
        c.error(ErrorCode::IllegalValue, written(call, 0));
        return;
    }
    if (const auto value = numeric(c, call, quantity, b)) {
        c.answer(scpi::number(*value));
    }
}

// How an operation ended, in the client's error queue. `limited` tells what went out when that was not what
// was written.
void report(Context& c, const Outcome& outcome, const QString& limited) {
    if (outcome.limited && !outcome.values.isEmpty()) {
        c.error(ErrorCode::OutOfRange, limited);
    }
    switch (outcome.end) {
    case Outcome::End::Done:
    case Outcome::End::Stopped:
        break;
    case Outcome::End::NoReply:
        c.error(ErrorCode::Hardware, ::texts::noResponse());
        break;
    case Outcome::End::NoPort:
    case Outcome::End::Failed:
        c.error(ErrorCode::Hardware, outcome.text.isEmpty() ? c.instrument.status() : outcome.text);
        break;
    case Outcome::End::OutOfRange:
        c.error(ErrorCode::OutOfRange, limited);
        break;
    }
}

Work one(Work::Request request, std::function<void(Context&, const Outcome&)> finish) {
    return {{std::move(request)},
            [finish = std::move(finish)](Context& c, const Outcomes& o) { finish(c, o[0]); }};
}

// Tunes to `nm`; `shown` says what went out in the client's terms.
Work tune(const scpi::Call& call, double nm, QString (*shown)(std::int32_t)) {
    const QString what = written(call, 0);
    return one([nm = within32(nm)](Instrument& i, Instrument::Done done) { i.tune(nm, done); },
               [what, shown](Context& c, const Outcome& o) {
                   report(c, o, texts::sentAs(what, o.values.isEmpty() ? QString() : shown(o.values[0])));
               });
}

QString asWavelength(std::int32_t nm) {
    return QString::number(nm);
}
QString asFrequency(std::int32_t nm) {
    return QString::fromLatin1(scpi::number(convert(nm))) + QStringLiteral(" (") + QString::number(nm) +
           QStringLiteral(" nm)");
}

std::optional<Work> wavelength(Context& c, const scpi::Call& call) {
    const scpi::Bounds b = bounds(c, filter::kWavelength, settingDefault(settings::kWavelength));
    if (call.unit.query) {
        answer(c, call, Quantity::Wavelength, b, c.instrument.sent().wavelength);
        return std::nullopt;
    }
    if (!arity(c, call, 1, 1)) {
        return std::nullopt;
    }
    const scpi::Param& p = call.unit.params[0];
    if (p.kind == scpi::Param::Kind::Character && (p.data == "UP" || p.data == "DOWN")) {
        const bool up = p.data == "UP";
        const std::int32_t steps = c.settings.step;
        return one([up, steps](Instrument& i, Instrument::Done done) { i.step(up, steps, done); },
                   [](Context& context, const Outcome& o) { report(context, o, {}); });
    }
    const auto nm = numeric(c, call, Quantity::Wavelength, b);
    return nm ? std::optional(tune(call, *nm, asWavelength)) : std::nullopt;
}

std::optional<Work> frequency(Context& c, const scpi::Call& call) {
    const scpi::Bounds nm = bounds(c, filter::kWavelength, settingDefault(settings::kWavelength));
    // The lowest frequency is the longest wavelength.
    const scpi::Bounds b{convert(nm.max), convert(nm.min), convert(*nm.def)};
    if (call.unit.query) {
        const auto sent = c.instrument.sent().wavelength;
        answer(c, call, Quantity::Frequency, b, sent ? std::optional(convert(*sent)) : std::nullopt);
        return std::nullopt;
    }
    if (!arity(c, call, 1, 1)) {
        return std::nullopt;
    }
    const auto thz = numeric(c, call, Quantity::Frequency, b);
    return thz ? std::optional(tune(call, convert(*thz), asFrequency)) : std::nullopt;
}

// A value kept for later commands (the steps, the scan's settings), limited now as it will be when it goes
// out.
void keep(Context& c, const scpi::Call& call, Quantity quantity, filter::LimitKind kind, std::int32_t& value,
          std::optional<std::int32_t> def, double scale = 1) {
    const scpi::Bounds b = bounds(c, kind, def, scale);
    if (call.unit.query) {
        answer(c, call, quantity, b, value * scale);
        return;
    }
    if (!arity(c, call, 1, 1)) {
        return;
    }
    const auto given = numeric(c, call, quantity, b);
    if (!given) {
        return;
    }
    const std::int32_t rounded = whole(*given / scale);
    value = limit(c, kind, rounded);
    if (value != rounded) {
        c.error(ErrorCode::OutOfRange,
                texts::keptAs(written(call, 0), QString::fromLatin1(scpi::number(value * scale))));
    }
}

Work sweep(Context& c, const scpi::Call& call) {
    const Settings s = c.settings;
    const QString header = QString::fromLatin1(call.unit.header);
    return {{[s](Instrument& i, Instrument::Done done) {
                 i.scanSetting(s.sweepStart, s.sweepStop, s.dwell, done);
             },
             [s](Instrument& i, Instrument::Done done) { i.scan(s.sweepStep, done); }},
            [header](Context& context, const Outcomes& o) {
                const QList<std::int32_t> v = o[0].values;
                report(context, o[0],
                       v.size() == 3
                           ? texts::sweepSentAs(header, v[0], v[1],
                                                QString::fromLatin1(scpi::number(v[2] * kDwellUnit)))
                           : QString());
                if (o[1].end != o[0].end || o[1].limited) {
                    report(context, o[1], texts::sentAs(header, QString::number(o[1].values.value(0))));
                }
            }};
}

std::optional<Work> channel(Context& c, const scpi::Call& call) {
    const scpi::Bounds b{1, kOutputs, std::nullopt};
    if (call.unit.query) {
        const auto output = c.instrument.sent().output;
        answer(c, call, Quantity::Count, b, output ? std::optional<double>(*output) : std::nullopt);
        return std::nullopt;
    }
    if (!arity(c, call, 1, 1)) {
        return std::nullopt;
    }
    const auto n = numeric(c, call, Quantity::Count, b);
    if (!n) {
        return std::nullopt;
    }
    const QString what = written(call, 0);
    return one([output = whole(*n)](Instrument& i, Instrument::Done done) { i.selectOutput(output, done); },
               [what](Context& context, const Outcome& o) { report(context, o, texts::noSuchOutput(what)); });
}

// The console's "get": year, month-day and hour-minute, answered as year,month,day,hour,minute.
Work calibrationDate() {
    return one([](Instrument& i, Instrument::Done done) { i.readDate(done); },
               [](Context& c, const Outcome& o) {
                   report(c, o, {});
                   QList<int> fields;
                   for (const QString& reply : o.ok() ? o.replies : QStringList{}) {
                       bool ok = false;
                       const int n = reply.toInt(&ok);
                       if (!ok || n < 0) {
                           c.error(ErrorCode::DataStale, texts::notADate(reply));
                           break;
                       }
                       fields << n;
                   }
                   QByteArrayList answer;
                   const bool whole = fields.size() == 3;
                   for (const int n : {fields.value(0), fields.value(1) / 100, fields.value(1) % 100,
                                       fields.value(2) / 100, fields.value(2) % 100}) {
                       answer << scpi::number(whole ? n : scpi::kNotANumber);
                   }
                   c.answer(answer.join(','));
               });
}

std::optional<Work> calibrationData(Context& c, const scpi::Call& call) {
    if (!arity(c, call, 1, 1)) {
        return std::nullopt;
    }
    if (call.unit.params[0].kind != scpi::Param::Kind::Block) {
        c.error(ErrorCode::DataType, QString::fromLatin1(call.unit.header));
        return std::nullopt;
    }
    QByteArray bytes = call.unit.params[0].data;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    calibration::CalTable table;
    const calibration::ReadResult read = calibration::readCalibration(buffer, table);
    if (read.kind != calibration::ReadResult::Ok) {
        c.error(ErrorCode::IllegalValue, read.message);
        return std::nullopt;
    }
    const std::int16_t rows = read.rowCount;
    return one([table, rows](Instrument& i, Instrument::Done done) { i.upload(table, rows, done); },
               [table, rows](Context& context, const Outcome& o) {
                   report(context, o, {});
                   if (o.ok()) {
                       context.log(texts::uploaded(rows, table.calMin, table.calMax, o.text));
                   }
               });
}

std::optional<Work> deviceCommand(Context& c, const scpi::Call& call) {
    if (!arity(c, call, 1, 1)) {
        return std::nullopt;
    }
    if (call.unit.params[0].kind != scpi::Param::Kind::String) {
        c.error(ErrorCode::DataType, QString::fromLatin1(call.unit.header));
        return std::nullopt;
    }
    return one([text = QString::fromLatin1(call.unit.params[0].data)](
                   Instrument& i, Instrument::Done done) { i.sendRaw(text, done); },
               [](Context& context, const Outcome& o) {
                   report(context, o, {});
                   QByteArrayList replies;
                   for (const QString& reply : o.replies) {
                       replies << scpi::quoted(reply.toLatin1());
                   }
                   context.answer(replies.isEmpty() ? scpi::quoted({}) : replies.join(','));
               });
}

} // namespace

std::optional<Work> handleFilter(Context& c, const scpi::Call& call) {
    Settings& s = c.settings;
    switch (call.command) {
    case Command::Wavelength:
        return wavelength(c, call);
    case Command::Frequency:
        return frequency(c, call);
    case Command::WavelengthStep:
        keep(c, call, Quantity::Count, filter::kSteps, s.step, settingDefault(settings::kStepUp));
        break;
    case Command::SweepStart:
        keep(c, call, Quantity::Wavelength, filter::kWavelength, s.sweepStart, c.instrument.limits().swMin);
        break;
    case Command::SweepStop:
        keep(c, call, Quantity::Wavelength, filter::kWavelength, s.sweepStop, c.instrument.limits().swMax);
        break;
    case Command::SweepDwell:
        keep(c, call, Quantity::Time, filter::kStayTime, s.dwell, settingDefault(settings::kStayTime),
             kDwellUnit);
        break;
    case Command::SweepStep:
        keep(c, call, Quantity::Count, filter::kSteps, s.sweepStep, settingDefault(settings::kSpan));
        break;
    case Command::Sweep:
        return arity(c, call, 0, 0) ? std::optional(sweep(c, call)) : std::nullopt;
    case Command::Channel:
        return channel(c, call);
    case Command::CalibrationDate:
        return arity(c, call, 0, 0) ? std::optional(calibrationDate()) : std::nullopt;
    case Command::CalibrationData:
        return calibrationData(c, call);
    case Command::DeviceCommand:
        return deviceCommand(c, call);
    default:
        break;
    }
    return std::nullopt;
}

} // namespace scpiserver
