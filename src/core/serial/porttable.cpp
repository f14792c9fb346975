// SPDX-License-Identifier: MIT
#include "serial/porttable.h"

#include <algorithm>
#include <optional>

namespace platform {

namespace {

const QByteArray kTableHeader = "# merovask: port numbers of USB serial adapters\n"
                                "# number<TAB>identity<TAB>socket (only where adapters share an identity)"
                                "<TAB>description\n";

// Tabs and line breaks would split a line of the table.
QString field(QString text) {
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r') {
            c = u' ';
        }
    }
    return text.trimmed();
}

} // namespace

PortTable parsePortTable(const QByteArray& text) {
    PortTable table;
    QSet<int> numbers;
    QSet<QString> adapters;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const QStringList fields = line.split(QLatin1Char('\t'));
        bool ok = false;
        const TableEntry entry{fields[0].toInt(&ok), fields.value(1).trimmed(), fields.value(2).trimmed(),
                               fields.value(3).trimmed()};
        const QString adapter = entry.identity + QLatin1Char('\t') + entry.location;
        if (!ok || entry.number < 1 || entry.number > kLastPortNumber || fields.size() > 4 ||
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

QByteArray formatPortTable(QList<TableEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const TableEntry& a, const TableEntry& b) { return a.number < b.number; });
    QByteArray text = kTableHeader;
    for (const TableEntry& e : entries) {
        text += QByteArray::number(e.number) + '\t' + field(e.identity).toUtf8() + '\t' +
                field(e.location).toUtf8() + '\t' + field(e.description).toUtf8() + '\n';
    }
    return text;
}

QMap<int, Adapter> numberAdapters(PortTable& table, QList<Adapter> adapters,
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
        while (number <= kLastPortNumber && held->contains(number)) {
            ++number;
        }
        if (number > kLastPortNumber) {
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

} // namespace platform
