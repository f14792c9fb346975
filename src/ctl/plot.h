// SPDX-License-Identifier: MIT
#pragma once
// A calibration table drawn as value against wavelength, so that an operator sees a typo at a glance.

#include "calibration/calfile.h"

#include <QString>

namespace ctl {

// Draws the rows of a table that was read successfully into a PNG at `png`; false when it cannot be written.
// Needs a QGuiApplication (text needs fonts).
bool plotTable(const calibration::CalTable& table, const calibration::ReadResult& read, const QString& title,
               const QString& png);

} // namespace ctl
