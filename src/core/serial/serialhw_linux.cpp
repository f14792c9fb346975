// SPDX-License-Identifier: MIT
// The serial hardware as Linux's sysfs shows it. Read directly: QSerialPortInfo::availablePorts() took 23 ms
// on a machine without any adapter (it looks at every terminal), too long for opening a port by its number
// at start-up; this takes a fraction of a millisecond.

#include "serial/serialhw.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace platform {

namespace {

const QString kTtyClass = QStringLiteral("/sys/class/tty");

QString attribute(const QString& dir, const char* name) {
    QFile file(dir + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// The kernel makes ttyS0 to ttyS31 whether or not a UART is there; its type 0 (PORT_UNKNOWN, as TIOCGSERIAL
// reports it) marks a node without one, whose open fails.
QList<int> uartPorts() {
    QList<int> ports;
    const QDir tty(kTtyClass);
    const QStringList names = tty.entryList({QStringLiteral("ttyS*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const int index = name.mid(4).toInt(&ok);
        QFile type(tty.filePath(name + QStringLiteral("/type")));
        if (ok && index >= 0 && index < kLastPortNumber && type.open(QIODevice::ReadOnly) &&
            type.readAll().trimmed().toInt() != 0) {
            ports.append(index + 1);
        }
    }
    return ports;
}

QList<Adapter> usbAdapters() {
    QList<Adapter> adapters;
    const QDir tty(kTtyClass);
    const QStringList names = tty.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
                                            QDir::Dirs | QDir::NoDotAndDotDot | QDir::CaseSensitive);
    for (const QString& name : names) {
        Adapter adapter{name, QStringLiteral("/dev/") + name, QStringLiteral("USB serial adapter"), name};
        // Up from the port to its USB interface and the USB device that holds it.
        QString dir = QFileInfo(tty.filePath(name + QStringLiteral("/device"))).canonicalFilePath();
        QString interfaceDir;
        for (int up = 0; up < 4 && dir.startsWith(QLatin1String("/sys/"));
             ++up, dir = QFileInfo(dir).path()) {
            if (interfaceDir.isEmpty() && QFileInfo::exists(dir + QStringLiteral("/bInterfaceNumber"))) {
                interfaceDir = dir;
            }
            if (!QFileInfo::exists(dir + QStringLiteral("/idVendor"))) {
                continue;
            }
            adapter.identity = attribute(dir, "idVendor") + QLatin1Char(':') + attribute(dir, "idProduct") +
                               QLatin1Char(':') + attribute(dir, "serial");
            // The ports of a multi-port adapter share its serial number.
            const int interface = attribute(interfaceDir, "bInterfaceNumber").toInt(nullptr, 16);
            if (interface > 0) {
                adapter.identity += QStringLiteral(":if%1").arg(interface, 2, 10, QLatin1Char('0'));
            }
            // The interface's name is the socket: 1-2.3:1.0 is port 3 of the hub in port 2 of bus 1.
            if (!interfaceDir.isEmpty()) {
                adapter.location = QFileInfo(interfaceDir).fileName();
            }
            const QString product = attribute(dir, "product");
            const QString manufacturer = attribute(dir, "manufacturer");
            if (!product.isEmpty() || !manufacturer.isEmpty()) {
                adapter.description = product.isEmpty() ? manufacturer : product;
            }
            break;
        }
        adapters.append(adapter);
    }
    return adapters;
}

} // namespace

SerialHardware discoverHardware() {
    return {usbAdapters(), uartPorts()};
}

bool mayOpen(const QString& device) {
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
}

} // namespace platform
