// SPDX-License-Identifier: MIT
// Port numbers on top of the links in the two folders, the port table and the system's serial hardware.

#include "serial/ports.h"

#include "serial/bridge.h"
#include "system/userdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>

namespace platform {

namespace {

// A table holds a few lines; a bigger file is not one and is rebuilt instead of read.
constexpr qint64 kMaxTableBytes = 1024 * 1024;

// The table as read afresh for every question, so that a number given in one run (or by another program
// sharing the folder) holds in the next.
PortTable readTable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return {};
    }
    QFile file(path);
    if (info.size() > kMaxTableBytes || !file.open(QIODevice::ReadOnly)) {
        return {{}, true};
    }
    return parsePortTable(file.readAll());
}

// Every write replaces the whole file, so it is never half written. A table that cannot be written costs
// only the numbers of this run: they are given the same way next time.
void writeTable(const QString& path, const QList<TableEntry>& entries) {
    if (!QDir().mkpath(QFileInfo(path).path())) {
        return;
    }
    const QByteArray text = formatPortTable(entries);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size()) {
        file.commit();
    }
}

bool isThere(const QString& path) {
    const QFileInfo info(path);
    // A dangling link still names its port: the device behind it is away.
    return info.exists() || info.isSymLink();
}

// The links com<N> in a folder, by number.
QMap<int, QString> linksIn(const QString& folder) {
    QMap<int, QString> links;
    const QDir dir(folder);
    const QStringList names = dir.entryList(
        {QStringLiteral("com*")}, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const int number = name.mid(3).toInt(&ok);
        // Only the spelling portPath looks for: com3, not com03 or Com3.
        if (ok && number >= 1 && number <= kLastPortNumber && name == QStringLiteral("com%1").arg(number)) {
            links.insert(number, dir.filePath(name));
        }
    }
    return links;
}

// The adapters plugged in now, by number, with the table as it stands after numbering them.
QMap<int, Adapter> presentAdapters(const PortFolders& folders, const SerialHardware& hardware,
                                   QList<TableEntry>* entries) {
    const QString path = portTablePath(folders.user);
    PortTable table = readTable(path);
    const auto heldElsewhere = [&] {
        QSet<int> numbers(hardware.uartPorts.begin(), hardware.uartPorts.end());
        for (const QString& folder : {folders.program, folders.user}) {
            for (const int number : linksIn(folder).keys()) {
                numbers.insert(number);
            }
        }
        // A bridge that is down keeps its number, as an unplugged adapter does.
        for (const int number : bridgesIn(folders.user).keys()) {
            numbers.insert(number);
        }
        return numbers;
    };
    const QMap<int, Adapter> present = numberAdapters(table, hardware.adapters, heldElsewhere);
    if (table.changed) {
        writeTable(path, table.entries);
    }
    if (entries != nullptr) {
        *entries = table.entries;
    }
    return present;
}

} // namespace

QString portTablePath(const QString& userFolder) {
    return userFolder + QStringLiteral("/ports.txt");
}

QString portPath(std::int16_t port, const QString& programFolder) {
    return portPath(port, {programFolder, userDir()}, discoverHardware);
}

QList<PortEntry> listPorts(const QString& programFolder) {
    return listPorts({programFolder, userDir()}, discoverHardware);
}

QString portPath(std::int16_t port, const PortFolders& folders, const HardwareSource& hardware) {
    if (port < 1) {
        return {};
    }
    for (const QString& folder : {folders.program, folders.user}) {
        const QString link = folder + QStringLiteral("/com%1").arg(port);
        if (isThere(link)) {
            return link;
        }
    }
    const QMap<int, Adapter> adapters = presentAdapters(folders, hardware(), nullptr);
    if (const auto it = adapters.find(port); it != adapters.end()) {
        return it->device;
    }
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

QList<PortEntry> listPorts(const PortFolders& folders, const HardwareSource& hardware) {
    QMap<int, PortEntry> ports;
    const auto addLinks = [&](const QString& folder, const QString& description) {
        const QMap<int, QString> links = linksIn(folder);
        for (auto it = links.begin(); it != links.end(); ++it) {
            if (ports.contains(it.key())) {
                continue; // the program folder's link wins
            }
            const QFileInfo link(it.value());
            PortEntry entry{it.key(), link.canonicalFilePath(), description, link.exists(), false};
            if (entry.device.isEmpty()) {
                entry.device = link.isSymLink() ? link.symLinkTarget() : it.value();
            }
            entry.accessible = entry.present && mayOpen(entry.device);
            ports.insert(entry.number, entry);
        }
    };
    addLinks(folders.program, QStringLiteral("link in the program folder"));
    addLinks(folders.user, QStringLiteral("link in the per-user folder"));
    // socat's link beside a bridge<N>.conf: a filter on another computer, there while connected. The program
    // folder's link still wins.
    for (const auto& [number, conf] : bridgesIn(folders.user).asKeyValueRange()) {
        if (!isThere(folders.program + QStringLiteral("/com%1").arg(number))) {
            PortEntry& entry = ports[number];
            entry.number = number;
            entry.bridge = true;
            entry.description = bridgeDescription(number, conf);
        }
    }

    const SerialHardware system = hardware();
    QList<TableEntry> table;
    const QMap<int, Adapter> present = presentAdapters(folders, system, &table);
    for (const TableEntry& t : table) {
        if (ports.contains(t.number)) {
            continue;
        }
        PortEntry entry{t.number, {}, t.description, false, false};
        if (const auto it = present.find(t.number); it != present.end()) {
            entry.device = it->device;
            entry.description = it->description;
            entry.present = true;
            entry.accessible = mayOpen(entry.device);
        } else if (entry.description.isEmpty()) {
            entry.description = t.identity;
        }
        ports.insert(entry.number, entry);
    }
    for (const int number : system.uartPorts) {
        if (!ports.contains(number)) {
            const QString device = QStringLiteral("/dev/ttyS%1").arg(number - 1);
            ports.insert(number, {number, device, QStringLiteral("serial port"), true, mayOpen(device)});
        }
    }
    return ports.values();
}

} // namespace platform
