// SPDX-License-Identifier: MIT
#include "settings/settings.h"

#include "device/commands.h"
#include "device/number.h"
#include "system/profile.h"

#include <QFile>

namespace settings {

namespace {
const QByteArray kSection = "tfilter";
// The value of a key arrives in a buffer of this size, terminator included.
constexpr unsigned kReadBuffer = 200;

std::int32_t limitFrom(const QString& text, std::int32_t current) {
    return filter::wholeValue(text).value_or(current);
}
} // namespace

QString SettingsFile::read(const Key& key) const {
    std::array<char, kReadBuffer> buffer;
    buffer.fill(' ');
    GetPrivateProfileStringA(kSection.constData(), key.name, key.def, buffer.data(), kReadBuffer,
                             QFile::encodeName(path_).constData());
    return devlink::cmd::trimBlanks(QString::fromLatin1(buffer.data(), qstrnlen(buffer.data(), kReadBuffer)));
}

void SettingsFile::write(const Key& key, const QString& value) const {
    WritePrivateProfileStringA(kSection.constData(), key.name, value.toLatin1().constData(),
                               QFile::encodeName(path_).constData());
}

StartValues SettingsFile::load() const {
    // The flag is kept in the file for whoever reads it there; it switches nothing on.
    write(kDebug, read(kDebug));
    StartValues v;
    v.port = read(kPort);
    write(kPort, v.port);
    v.swMinText = read(kSwMin);
    v.swMaxText = read(kSwMax);
    v.limits = {limitFrom(v.swMinText, 0), limitFrom(v.swMaxText, 0)};
    for (std::size_t i = 0; i < kBoxKeys.size(); ++i) {
        v.boxes[i] = read(kBoxKeys[i]);
        write(kBoxKeys[i], v.boxes[i]);
    }
    return v;
}

void SettingsFile::store(const QString& port, const BoxValues& boxes) const {
    write(kPort, port);
    for (std::size_t i = 0; i < kBoxKeys.size(); ++i) {
        write(kBoxKeys[i], boxes[i]);
    }
}

QString SettingsFile::port() const {
    return read(kPort);
}

Limits SettingsFile::limits() const {
    return {limitFrom(read(kSwMin), 0), limitFrom(read(kSwMax), 0)};
}

Limits SettingsFile::storeRange(std::int32_t calMin, std::int32_t calMax, Limits current) const {
    const QString minText = QString::number(calMin);
    write(kSwMin, minText);
    current.swMin = limitFrom(minText, current.swMin);
    const QString maxText = QString::number(calMax);
    write(kSwMax, maxText);
    current.swMax = limitFrom(maxText, current.swMax);
    return current;
}

} // namespace settings
