// SPDX-License-Identifier: MIT
#include "values.h"

#include "device/texts.h"

#include <QBuffer>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace tangoserver {

namespace {

constexpr double kLightNmTHz = 299792.458; // c in nm x THz

// As an operator writes a number into a table: the fewest digits that give it back, without an exponent
// unless it is beyond 15 digits.
QByteArray shortest(double value) {
    const char format = std::abs(value) < 1e15 ? 'f' : 'g';
    return QString::number(value, format, QLocale::FloatingPointShortest).toLatin1();
}

} // namespace

QString calibrationDate(const QStringList& replies) {
    static const QRegularExpression fourDigits(QStringLiteral("^\\d{4}$"));
    const bool stamp =
        replies.size() == 3 && std::all_of(replies.begin(), replies.end(),
                                           [](const QString& r) { return fourDigits.match(r).hasMatch(); });
    if (!stamp) {
        return replies.join(QLatin1Char(' '));
    }
    return QStringLiteral("%1-%2-%3 %4:%5")
        .arg(replies[0], replies[1].left(2), replies[1].mid(2), replies[2].left(2), replies[2].mid(2));
}

calibration::ReadResult tableFromPairs(const std::vector<double>& numbers, calibration::CalTable& table) {
    if (numbers.size() % 2 != 0) {
        calibration::ReadResult odd;
        odd.kind = calibration::ReadResult::NoData;
        odd.message = texts::tableNotInPairs(int(numbers.size()));
        return odd;
    }
    QByteArray rows;
    for (std::size_t i = 0; i < numbers.size(); i += 2) {
        rows += shortest(numbers[i]) + '\t' + shortest(numbers[i + 1]) + "\r\n";
    }
    QBuffer file(&rows);
    file.open(QIODevice::ReadOnly);
    return calibration::readCalibration(file, table);
}

double terahertz(double nm) {
    return kLightNmTHz / nm;
}

std::optional<Refusal> refusal(const service::Outcome& outcome) {
    using End = service::Outcome::End;
    switch (outcome.end) {
    case End::Done:
        return std::nullopt;
    case End::NoReply:
        return Refusal{"MEROVASK_NoReply", texts::noResponse()};
    case End::NoPort:
        // Without a text it went away while the operation ran.
        return Refusal{"MEROVASK_NoPort", outcome.text.isEmpty() ? texts::portWentAway() : outcome.text};
    case End::Failed:
        return Refusal{"MEROVASK_Failed", outcome.text};
    case End::OutOfRange:
        return Refusal{"MEROVASK_OutOfRange", outcome.text};
    case End::Stopped:
        break;
    }
    return Refusal{"MEROVASK_Stopped", texts::serverStopping()};
}

} // namespace tangoserver
