// SPDX-License-Identifier: MIT
#pragma once
// What the device server makes of the filter's values for its clients, without Tango: the calibration's date
// stamp as one text, a table given as numbers read by the calibration file's rules, the frequency of a
// wavelength, and why an operation is refused.

#include "calibration/calfile.h"
#include "service/outcome.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tangoserver {

// The replies of the console's "get" (slots 103, 104 and 105) as "2024-03-05 09:07" when they are the year,
// month and day, hour and minute in four digits each; otherwise the replies as the device gave them, one
// blank between them.
QString calibrationDate(const QStringList& replies);

// The table of wavelength and value pairs, written out as a calibration file's rows and read by its reader,
// so that the same checks give the same messages. An odd count of numbers is refused before that.
calibration::ReadResult tableFromPairs(const std::vector<double>& numbers, calibration::CalTable& table);

// The frequency in THz of light of `nm` nanometres in vacuum.
double terahertz(double nm);

// Why an operation is refused, for an exception: Tango's reason (a short name) and the text the panel shows.
struct Refusal {
    const char* reason;
    QString text;
};
std::optional<Refusal> refusal(const service::Outcome& outcome);

} // namespace tangoserver
