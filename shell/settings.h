#pragma once
// The settings routine over the profile calls: one key of the settings file read or written at a time.

#include <QString>
#include <cstdint>

namespace shell {

// inType 1 writes defS under SecondS in section mainS of the file at iniPath and returns defS (a write that
// cannot be carried out is not reported). Any other inType reads the key with defS as its default, at most
// 199 characters, and returns it without blanks at either end.
QString getIrStr(const QString& iniPath, const QString& mainS, const QString& SecondS, const QString& defS,
                 std::int16_t inType);

} // namespace shell
