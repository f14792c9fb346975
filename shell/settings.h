#pragma once
// The settings routine over the profile calls: one key of the settings file read or written at a time.

#include <QString>
#include <cstdint>

namespace shell {

// The one section of the settings file.
inline const QString kSection = QStringLiteral("tfilter");

// inType 1 writes defS under SecondS in section mainS of the file at iniPath and returns defS (a write that
// cannot be carried out is not reported). Any other inType reads the key with defS as its default, at most
// 199 characters, and returns it without blanks at either end.
QString getIrStr(const QString& iniPath, const QString& mainS, const QString& SecondS, const QString& defS,
                 std::int16_t inType);

// After a calibration upload: stores the table's range under SWmin and SWmax and takes the new limits from
// the texts stored (a limit whose text does not convert keeps its value).
void storeRange(const QString& iniPath, std::int32_t calMin, std::int32_t calMax, std::int32_t& swMin,
                std::int32_t& swMax);

} // namespace shell
