// SPDX-License-Identifier: MIT
#pragma once
// Reading and validating a calibration file. Pure: it sees bytes and fills the table; choosing the file,
// asking the operator and talking to the device happen in the front ends.

#include <QIODevice>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace calibration {

constexpr int kTableRows = 301;
constexpr int kMinRows = 10;
constexpr int kMaxRows = 100;
constexpr int kMaxLineLength = 32767;

// The window-level table. Rows beyond those a reading reaches keep what they held.
struct CalTable {
    std::array<std::int16_t, kTableRows> calTable{};
    std::int32_t calMin = 0;
    std::int32_t calMax = 0;
};

struct ReadResult {
    enum Kind {
        Ok,          // 10..100 data rows; ask the operator
        OrderError,  // a wavelength above the previous (rounded) one, or a first row above 10000
        TooMany,     // a 101st data row
        NoData,      // fewer than 10 data rows
        BadValue,    // a value that does not round into -32768..32767
        BadWave,     // a wavelength outside the 32-bit range or below -32768
        LineTooLong, // a line longer than kMaxLineLength characters
        ReadFailed,  // the device reported a read error
    };
    Kind kind = NoData;
    std::int16_t rowCount = 0;
    QString message; // the operator's message for every kind but Ok
    // The wavelength of each accepted row as read, for drawing the table.
    std::vector<double> waves;
};

// Reads the file line by line (CR or CR LF end a line; a lone LF stays in the line), validates it and fills
// `table`. calMin and calMax are reset to 100000 and 0 at the start. Stops reading at the first error.
ReadResult readCalibration(QIODevice& in, CalTable& table);

// Opens the file at `path` and reads it as above. A file that cannot be opened, or a folder, gives
// ReadFailed with unreadableText(path) and leaves the table as it was.
ReadResult readCalibrationFile(const QString& path, CalTable& table);

// "the wave range is from 1510 to 1589 total 80, correct?"
QString confirmText(const CalTable& table, std::int16_t rowCount);

// The message for a file that cannot be opened or read.
QString unreadableText(const QString& path);

} // namespace calibration
