// SPDX-License-Identifier: MIT
#pragma once
// The calibration upload as a sequence on a line: the table's rows into the device's calibration memory, the
// reply check, the range, the stored limits and the date stamp.

#include "calibration/calfile.h"
#include "line/line.h"
#include "settings/settings.h"

#include <QString>
#include <cstdint>

namespace calibration {

enum class UploadEnd {
    Done,       // everything sent: the operator is to restart the device and the program (texts::uploadDone)
    NoResponse, // no reply to the table, or a command lost on the way (the port closed or went away): nothing
                // stored (texts::uploadNoResponse)
    Stopped,    // the front end stopped the operation during a wait
};

// Sends the 2 * rowCount + 10 commands of an upload, each followed by a clearing of the reply and a wait of
// 50 ms. No value (Y) goes out unless its slot (X) went out just before it over the same connection. At the
// end, when the table and its range went out without a loss, the range is stored in the settings file and
// becomes the line's limits.
UploadEnd upload(devlink::Line& line, const CalTable& table, std::int16_t rowCount,
                 const settings::SettingsFile& settings);

// The number of commands that a successful upload of rowCount rows sends.
constexpr int uploadCommandCount(std::int16_t rowCount) {
    return 2 * rowCount + 10;
}

} // namespace calibration
