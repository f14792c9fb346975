// SPDX-License-Identifier: MIT
#pragma once
// The settings file: its keys with their defaults, and the order in which start-up, shut-down and a
// calibration upload read and write them. Both front ends use it, so they read the same values the same way.

#include "device/limits.h"

#include <QString>
#include <array>
#include <cstdint>

namespace settings {

// A key of the section and the value it has when the file does not hold it.
struct Key {
    const char* name;
    const char* def;
};

inline constexpr Key kDebug{"debug", "0"};
inline constexpr Key kPort{"port", "1"};
inline constexpr Key kSwMin{"SWmin", "1510"};
inline constexpr Key kSwMax{"SWmax", "1589"};
inline constexpr Key kStayTime{"STime", "1"};
inline constexpr Key kSpan{"SPan", "4"};
inline constexpr Key kWavelength{"Cch", "1550"};
inline constexpr Key kStepUp{"CI", "1"};
inline constexpr Key kStepDown{"CD", "1"};

// The operator's values that start-up reads and writes back and shut-down stores, after the port, in the
// order of their writes.
inline constexpr std::array<Key, 5> kBoxKeys{kStayTime, kSpan, kWavelength, kStepUp, kStepDown};
using BoxValues = std::array<QString, kBoxKeys.size()>;

using filter::Limits;

// What start-up takes from the file.
struct StartValues {
    QString port;
    QString swMinText;
    QString swMaxText;
    Limits limits; // from the two texts; a text that does not convert gives 0
    BoxValues boxes;
};

class SettingsFile {
  public:
    explicit SettingsFile(QString iniPath = {}) : path_(std::move(iniPath)) {}
    const QString& path() const { return path_; }

    // The key's value without blanks at either end, at most 199 characters; the default when the file, the
    // section or the key is missing, the empty text for a key without a value.
    QString read(const Key& key) const;
    // Stores the value under the key; a write that cannot be carried out is not reported (the old file stays
    // as it was).
    void write(const Key& key, const QString& value) const;

    // Start-up: debug and port read and written back, the two limits read, the boxes read and written back.
    StartValues load() const;
    // Shut-down: the port and the boxes, each text stored as it is.
    void store(const QString& port, const BoxValues& boxes) const;
    // Start-up's reading of the port and the limits alone, writing nothing.
    QString port() const;
    Limits limits() const;
    // After a calibration upload: the table's range stored, and the limits taken from the texts stored (a
    // limit whose text does not convert keeps its value).
    Limits storeRange(std::int32_t calMin, std::int32_t calMax, Limits current) const;

  private:
    QString path_;
};

} // namespace settings
