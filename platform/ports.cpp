// Port numbers for USB serial adapters, kept like Windows keeps COM numbers.
//
// The table lives in the per-user folder (ports.txt), one adapter a line, tab-separated:
//     number  identity  socket  description
// It is read afresh for every question, so a number given in one run (or by another program sharing the
// folder) holds in the next. A line that cannot be read, or that repeats a number or an adapter, is dropped
// and the table written back without it; the adapters it named get new numbers when next seen. Every write
// replaces the whole file, so it is never half written.
//
// Identity: vendor and product id with the serial number (and the interface, for the second and further
// ports of a multi-port adapter). Cheap adapters have no serial number, so two of a model look the same. The
// first of them keeps a number for the identity alone, in whichever socket it is plugged; each further one is
// remembered together with the socket it was first seen in (its USB path, such as 1-2.3:1.0, which survives
// reboots and plugging order, where ttyUSB<k> does not). An adapter found in such a socket gets that
// socket's number back; any other gets the identity's number, or a new one when an adapter of the same
// identity holds it already. Two identical adapters that swap sockets swap numbers: nothing on them tells
// them apart.

#include "platform/ports.h"

#include "platform/bridge.h"
#include "platform/userdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <optional>

#ifdef _WIN32
#include <QSerialPortInfo>
#else
#include <unistd.h>
#endif

namespace platform {

namespace {

std::function<SerialHardware()>& hardwareOverride() {
    static std::function<SerialHardware()> source;
    return source;
}

#ifndef _WIN32

constexpr int kFirstAdapterNumber = 3;
constexpr int kLastNumber = 32767;
// A table holds a few lines; a bigger file is not one and is rebuilt instead of read.
constexpr qint64 kMaxTableBytes = 1024 * 1024;

const QByteArray kTableHeader = "# merovask: port numbers of USB serial adapters\n"
                                "# number<TAB>identity<TAB>socket (only where adapters share an identity)"
                                "<TAB>description\n";

struct TableEntry {
    int number = 0;
    QString identity;
    QString location; // empty: in any socket
    QString description;
};

struct Table {
    QList<TableEntry> entries;
    bool changed = false; // to be written back
};

// Tabs and line breaks would split a line of the table.
QString field(QString text) {
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r') {
            c = u' ';
        }
    }
    return text.trimmed();
}

Table loadTable(const QString& path) {
    Table table;
    QFile file(path);
    if (!QFileInfo(path).exists()) {
        return table;
    }
    if (QFileInfo(path).size() > kMaxTableBytes || !file.open(QIODevice::ReadOnly)) {
        table.changed = true;
        return table;
    }
    QSet<int> numbers;
    QSet<QString> adapters;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const QStringList fields = line.split(QLatin1Char('\t'));
        bool ok = false;
        const TableEntry entry{fields[0].toInt(&ok), fields.value(1).trimmed(), fields.value(2).trimmed(),
                               fields.value(3).trimmed()};
        const QString adapter = entry.identity + QLatin1Char('\t') + entry.location;
        if (!ok || entry.number < 1 || entry.number > kLastNumber || fields.size() > 4 ||
            entry.identity.isEmpty() || numbers.contains(entry.number) || adapters.contains(adapter)) {
            table.changed = true;
            continue;
        }
        numbers.insert(entry.number);
        adapters.insert(adapter);
        table.entries.append(entry);
    }
    return table;
}

// A table that cannot be written costs only the numbers of this run: they are given the same way next time.
void saveTable(const QString& path, QList<TableEntry> entries) {
    if (!QDir().mkpath(QFileInfo(path).path())) {
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const TableEntry& a, const TableEntry& b) { return a.number < b.number; });
    QByteArray text = kTableHeader;
    for (const TableEntry& e : entries) {
        text += QByteArray::number(e.number) + '\t' + field(e.identity).toUtf8() + '\t' +
                field(e.location).toUtf8() + '\t' + field(e.description).toUtf8() + '\n';
    }
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
        if (ok && number >= 1 && number <= kLastNumber && name == QStringLiteral("com%1").arg(number)) {
            links.insert(number, dir.filePath(name));
        }
    }
    return links;
}

// The kernel makes ttyS0 to ttyS31 whether or not a UART is there; its type 0 (PORT_UNKNOWN, as TIOCGSERIAL
// reports it) marks a node without one, whose open fails.
QList<int> uartPorts() {
    QList<int> ports;
    const QDir tty(QStringLiteral("/sys/class/tty"));
    const QStringList names = tty.entryList({QStringLiteral("ttyS*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const int index = name.mid(4).toInt(&ok);
        QFile type(tty.filePath(name + QStringLiteral("/type")));
        if (ok && index >= 0 && index < kLastNumber && type.open(QIODevice::ReadOnly) &&
            type.readAll().trimmed().toInt() != 0) {
            ports.append(index + 1);
        }
    }
    return ports;
}

QString attribute(const QString& dir, const char* name) {
    QFile file(dir + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// Read from sysfs directly: QSerialPortInfo::availablePorts() took 23 ms on a machine without any adapter
// (it looks at every terminal), too long for opening a port by its number at start-up; this takes a
// fraction of a millisecond.
QList<Adapter> usbAdapters() {
    QList<Adapter> adapters;
    const QDir tty(QStringLiteral("/sys/class/tty"));
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

QList<Adapter> currentAdapters() {
    return hardwareOverride() ? hardwareOverride()().adapters : usbAdapters();
}

QList<int> currentUarts() {
    return hardwareOverride() ? hardwareOverride()().uartPorts : uartPorts();
}

// The adapters plugged in now, by number. Those seen for the first time get the lowest free number from 3
// up; `heldElsewhere` (asked only then) gives the numbers that links and UARTs hold.
QMap<int, Adapter> numberAdapters(Table& table, QList<Adapter> adapters,
                                  const std::function<QSet<int>()>& heldElsewhere) {
    for (Adapter& a : adapters) {
        a.identity = field(a.identity);
        a.location = field(a.location);
    }
    // The order in which the system lists them must not decide who gets which number: by node, ttyUSB2
    // before ttyUSB10.
    std::sort(adapters.begin(), adapters.end(), [](const Adapter& a, const Adapter& b) {
        return std::pair(a.device.size(), a.device) < std::pair(b.device.size(), b.device);
    });
    QMap<int, Adapter> present;
    QList<bool> taken(table.entries.size(), false);
    QList<bool> numbered(adapters.size(), false);
    // First an adapter back in the socket it was remembered with, then the identity's own number.
    for (const bool bySocket : {true, false}) {
        for (qsizetype i = 0; i < adapters.size(); ++i) {
            for (qsizetype j = 0; j < table.entries.size() && !numbered[i]; ++j) {
                const TableEntry& e = table.entries[j];
                const bool socketMatches = bySocket
                                               ? !e.location.isEmpty() && e.location == adapters[i].location
                                               : e.location.isEmpty();
                if (!taken[j] && e.identity == adapters[i].identity && socketMatches) {
                    taken[j] = numbered[i] = true;
                    present.insert(e.number, adapters[i]);
                }
            }
        }
    }
    std::optional<QSet<int>> held;
    for (qsizetype i = 0; i < adapters.size(); ++i) {
        if (numbered[i]) {
            continue;
        }
        const Adapter& a = adapters[i];
        if (!held) {
            held = heldElsewhere();
            for (const TableEntry& e : table.entries) {
                held->insert(e.number);
            }
        }
        int number = kFirstAdapterNumber;
        while (number <= kLastNumber && held->contains(number)) {
            ++number;
        }
        if (number > kLastNumber) {
            break;
        }
        const bool identityHeld =
            std::any_of(table.entries.begin(), table.entries.end(), [&](const TableEntry& e) {
                return e.identity == a.identity && e.location.isEmpty();
            });
        table.entries.append({number, a.identity, identityHeld ? a.location : QString(), a.description});
        table.changed = true;
        held->insert(number);
        present.insert(number, a);
    }
    return present;
}

// The adapters plugged in now, by number, with the table as it stands after numbering them.
QMap<int, Adapter> presentAdapters(const QString& programFolder, QList<TableEntry>* entries) {
    const QString path = portTablePath();
    Table table = loadTable(path);
    const auto heldElsewhere = [&] {
        const QList<int> uarts = currentUarts();
        QSet<int> numbers(uarts.begin(), uarts.end());
        for (const QString& folder : {programFolder, userDir()}) {
            for (const int number : linksIn(folder).keys()) {
                numbers.insert(number);
            }
        }
        // A bridge that is down keeps its number, as an unplugged adapter does.
        for (const int number : bridgesIn(userDir()).keys()) {
            numbers.insert(number);
        }
        return numbers;
    };
    const QMap<int, Adapter> present = numberAdapters(table, currentAdapters(), heldElsewhere);
    if (table.changed) {
        saveTable(path, table.entries);
    }
    if (entries != nullptr) {
        *entries = table.entries;
    }
    return present;
}

#endif

QString shortName(const QString& device) {
    return device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
}

} // namespace

QString portTablePath() {
    return userDir() + QStringLiteral("/ports.txt");
}

void setHardwareSourceForTests(std::function<SerialHardware()> source) {
    hardwareOverride() = std::move(source);
}

bool mayOpen(const QString& device) {
#ifdef _WIN32
    Q_UNUSED(device);
    return true;
#else
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#endif
}

QString portPath(std::int16_t port, const QString& programFolder) {
    if (port < 1) {
        return {};
    }
#ifdef _WIN32
    Q_UNUSED(programFolder);
    return QStringLiteral("COM%1").arg(port);
#else
    for (const QString& folder : {programFolder, userDir()}) {
        const QString link = folder + QStringLiteral("/com%1").arg(port);
        if (isThere(link)) {
            return link;
        }
    }
    const QMap<int, Adapter> adapters = presentAdapters(programFolder, nullptr);
    if (const auto it = adapters.find(port); it != adapters.end()) {
        return it->device;
    }
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QList<PortEntry> listPorts(const QString& programFolder) {
    QMap<int, PortEntry> ports;
#ifdef _WIN32
    Q_UNUSED(programFolder);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        bool ok = false;
        const int number = info.portName().mid(3).toInt(&ok);
        if (ok && info.portName().startsWith(QLatin1String("COM"))) {
            ports.insert(number, {number, PortEntry::Kind::SerialPort, info.portName(), info.description(),
                                  true, true});
        }
    }
#else
    const auto addLinks = [&](const QString& folder, PortEntry::Kind kind, const QString& description) {
        const QMap<int, QString> links = linksIn(folder);
        for (auto it = links.begin(); it != links.end(); ++it) {
            if (ports.contains(it.key())) {
                continue; // the program folder's link wins
            }
            const QFileInfo link(it.value());
            PortEntry entry{it.key(), kind, link.canonicalFilePath(), description, link.exists(), false};
            if (entry.device.isEmpty()) {
                entry.device = link.isSymLink() ? link.symLinkTarget() : it.value();
            }
            entry.accessible = entry.present && mayOpen(entry.device);
            ports.insert(entry.number, entry);
        }
    };
    addLinks(programFolder, PortEntry::Kind::ProgramLink, QStringLiteral("link in the program folder"));
    addLinks(userDir(), PortEntry::Kind::UserLink, QStringLiteral("link in the per-user folder"));
    // socat's link beside a bridge<N>.conf: a filter on another computer, there while connected.
    for (const auto& [number, conf] : bridgesIn(userDir()).asKeyValueRange()) {
        if (!ports.contains(number) || ports[number].kind == PortEntry::Kind::UserLink) {
            PortEntry& entry = ports[number];
            entry.number = number;
            entry.kind = PortEntry::Kind::Bridge;
            entry.description = bridgeDescription(number, conf);
        }
    }

    QList<TableEntry> table;
    const QMap<int, Adapter> present = presentAdapters(programFolder, &table);
    for (const TableEntry& t : table) {
        if (ports.contains(t.number)) {
            continue;
        }
        PortEntry entry{t.number, PortEntry::Kind::Adapter, {}, t.description, false, false};
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
    for (const int number : currentUarts()) {
        if (!ports.contains(number)) {
            const QString device = QStringLiteral("/dev/ttyS%1").arg(number - 1);
            ports.insert(number, {number, PortEntry::Kind::SerialPort, device, QStringLiteral("serial port"),
                                  true, mayOpen(device)});
        }
    }
#endif
    return ports.values();
}

QString portListText(const QList<PortEntry>& ports) {
    if (ports.isEmpty()) {
        return QStringLiteral("no serial ports found");
    }
    QStringList lines;
    bool denied = false;
    for (const PortEntry& port : ports) {
        QString line = QString::number(port.number) + QStringLiteral("  ") + port.description;
        if (port.device.isEmpty()) {
            line +=
                port.kind == PortEntry::Kind::Bridge ? bridgeDownNote() : QStringLiteral(" (not plugged in)");
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
        lines << QStringLiteral("no permission: add yourself to the dialout group: sudo usermod -aG dialout "
                                "$USER, then log in again");
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace platform
