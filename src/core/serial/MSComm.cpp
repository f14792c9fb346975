// SPDX-License-Identifier: MIT
// The parts of the serial control that do not depend on the platform's port.

#include "serial/MSComm.h"

#include "system/programdir.h"

#include <QStringList>

namespace platform {

std::optional<LineSettings> parseLineSettings(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        return std::nullopt;
    }
    LineSettings out;
    bool ok = false;
    out.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || out.baud <= 0) {
        return std::nullopt;
    }
    const QString parity = parts[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity)) {
        return std::nullopt;
    }
    out.parity = parity[0].toLatin1();
    out.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || out.dataBits < 5 || out.dataBits > 8) {
        return std::nullopt;
    }
    const QString stop = parts[3].trimmed();
    if (stop == u"1") {
        out.stopBits = LineSettings::StopBits::One;
    } else if (stop == u"1.5") {
        out.stopBits = LineSettings::StopBits::OneAndHalf;
    } else if (stop == u"2") {
        out.stopBits = LineSettings::StopBits::Two;
    } else {
        return std::nullopt;
    }
    return out;
}

int MSComm::setCommPort(std::int16_t port) {
    if (PortOpen()) {
        return kPortAlreadyOpen;
    }
    commPort_ = port;
    return kCommOk;
}

int MSComm::setSettings(const QString& settings) {
    if (!parseLineSettings(settings)) {
        return kInvalidPropertyValue;
    }
    settings_ = settings;
    return kCommOk;
}

QString MSComm::startOpen() {
    trouble_ = OpenTrouble::NoSuchPort;
    device_.clear();
    if (!devicePath_.isEmpty()) {
        return devicePath_;
    }
    return portPath(commPort_, programDir());
}

void MSComm::received() {
    commEvent_ = comEvReceive;
    emit OnComm();
}

} // namespace platform
