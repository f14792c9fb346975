// SPDX-License-Identifier: MIT
// Port numbers on Windows: port N is COMN, numbered by Windows itself (its COM port database keeps an
// adapter's number), so there are no links and no port table of our own here.

#include "serial/ports.h"

#include <QMap>

#include <windows.h>

#include <array>

namespace platform {

QString portPath(std::int16_t port, const QString& programFolder) {
    Q_UNUSED(programFolder);
    if (port < 1) {
        return {};
    }
    // The device namespace prefix: a plain "COM10" and above would name a file.
    return QStringLiteral("\\\\.\\COM%1").arg(port);
}

// Any user may open a COM port that no other program holds.
bool mayOpen(const QString& device) {
    Q_UNUSED(device);
    return true;
}

// The ports the system has now: HKLM\HARDWARE\DEVICEMAP\SERIALCOMM holds one value per port, named by its
// driver's device (\Device\Serial0, \Device\VCP0...) with the port's name (COM3) as its data.
QList<PortEntry> listPorts(const QString& programFolder) {
    Q_UNUSED(programFolder);
    QMap<int, PortEntry> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return {};
    }
    for (DWORD index = 0;; ++index) {
        std::array<wchar_t, 256> name{};
        std::array<wchar_t, 64> data{};
        DWORD nameSize = name.size();
        DWORD dataSize = sizeof(wchar_t) * (data.size() - 1); // leaves room for a NUL the data may lack
        DWORD type = 0;
        const LONG status = RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        const QString port = QString::fromWCharArray(data.data()).trimmed();
        bool ok = false;
        const int number = port.mid(3).toInt(&ok);
        if (!ok || number < 1 || !port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
            continue;
        }
        QString description = QString::fromWCharArray(name.data(), static_cast<qsizetype>(nameSize));
        description = description.mid(description.lastIndexOf(QLatin1Char('\\')) + 1);
        ports.insert(number, {number, port.toUpper(), description, true, true});
    }
    RegCloseKey(key);
    return ports.values();
}

} // namespace platform
