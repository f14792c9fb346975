// SPDX-License-Identifier: MIT
#include "device/texts.h"

#include "serial/bridge.h"

#include <QStringList>

namespace texts {

namespace {
const QString kJoinDialout = QStringLiteral("add yourself to the dialout group");
const QString kUsermod = QStringLiteral("sudo usermod -aG dialout $USER");

QString shortName(const QString& device) {
    return device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
}
} // namespace

QString openSuccessfully() {
    return QStringLiteral("open successfully");
}

QString closeSuccessfully() {
    return QStringLiteral("close successfully");
}

QString cantOpenPort(std::int16_t port) {
    return QStringLiteral("can't open comm port ") + QString::number(port);
}

QString pleaseOpenPort() {
    return QStringLiteral("please open comm port");
}

QString noResponse() {
    return QStringLiteral("no response form device");
}

QString uploadNoResponse() {
    return QStringLiteral("error, no response from device, check RS232 connection and device power");
}

QString uploadDone() {
    return QStringLiteral("plese reset the tunable filter device's power and this software!");
}

QString openFailure(std::int16_t port, platform::OpenTrouble trouble, const QString& device) {
    switch (trouble) {
    case platform::OpenTrouble::NoPermission:
        return QStringLiteral("no permission to open port %1 (%2): %3 (%4) and log in again")
            .arg(port)
            .arg(device, kJoinDialout, kUsermod);
    case platform::OpenTrouble::InUse:
        return QStringLiteral("port %1 (%2) is in use by another program").arg(port).arg(device);
    case platform::OpenTrouble::NotSerial:
        return QStringLiteral("port %1 (%2) is not a serial port").arg(port).arg(device);
    case platform::OpenTrouble::None:
    case platform::OpenTrouble::NoSuchPort:
        break;
    }
    return QStringLiteral("no such port %1").arg(port);
}

QString panelNoPermission(const QString& device, std::int16_t port) {
    return QStringLiteral("merovask: no permission to open %1 (port %2): %3")
        .arg(device, QString::number(port), kJoinDialout);
}

QString notAPortNumber(const QString& text) {
    return QStringLiteral("'%1' is no port number").arg(text);
}

QString portWentAway() {
    return QStringLiteral("the port went away (hung up or unplugged)");
}

QString portWentAwayDuringUpload(std::int16_t port) {
    return QStringLiteral("port %1 went away during the upload (hung up or unplugged)").arg(port);
}

QString serverReady(std::int16_t port, const QString& device) {
    return QStringLiteral("port %1 (%2) is open and the filter is ready").arg(port).arg(device);
}

QString serverBusy(std::int16_t port) {
    return QStringLiteral("an operation is on the line of port %1").arg(port);
}

QString serverRetrying(const QString& why) {
    return QStringLiteral("%1; opening it again every 2 s").arg(why);
}

QString serverPortGone(std::int16_t port) {
    return QStringLiteral("port %1 went away (hung up or unplugged)").arg(port);
}

QString serverClosed(std::int16_t port) {
    return QStringLiteral("port %1 is closed; open it to use the filter").arg(port);
}

QString serverNoReply(std::int16_t port) {
    return QStringLiteral("port %1 is open, but the filter did not answer the last command").arg(port);
}

QString serverStopping() {
    return QStringLiteral("the server is ending: the operation did not run to its end");
}

QString noSuchOutput(int output) {
    return QStringLiteral("the switch has outputs 1, 2, 3 and 4, not %1").arg(output);
}

QString tableNotInPairs(int numbers) {
    return QStringLiteral("a calibration table is pairs of wavelength and value: %1 numbers are not")
        .arg(numbers);
}

QString portList(const QList<platform::PortEntry>& ports) {
    if (ports.isEmpty()) {
        return QStringLiteral("no serial ports found");
    }
    QStringList lines;
    bool denied = false;
    for (const platform::PortEntry& port : ports) {
        QString line = QString::number(port.number) + QStringLiteral("  ") + port.description;
        if (port.device.isEmpty()) {
            line += port.bridge ? platform::bridgeDownNote() : QStringLiteral(" (not plugged in)");
        } else if (!port.present) {
            line += QStringLiteral(" (%1 missing)").arg(shortName(port.device));
        } else {
            line += QStringLiteral(" (%1)").arg(shortName(port.device));
            if (!port.accessible) {
                line += QStringLiteral(", no permission");
                denied = true;
            }
        }
        lines << line;
    }
    if (denied) {
        lines << QStringLiteral("no permission: %1: %2, then log in again").arg(kJoinDialout, kUsermod);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace texts
