// SPDX-License-Identifier: MIT
#pragma once
// The port table: the numbers that USB serial adapters keep, like Windows' COM port database, and the rule
// that gives them. Pure: the table comes and goes as bytes, the adapters as a list.
//
// The table lives in the per-user folder (ports.txt), one adapter a line, tab-separated:
//     number  identity  socket  description
// A line that cannot be read, or that repeats a number or an adapter, is dropped, and the table is written
// back without it; the adapters it named get new numbers when next seen.
//
// Identity: vendor and product id with the serial number (and the interface, for the second and further
// ports of a multi-port adapter). Cheap adapters have no serial number, so two of a model look the same. The
// first of them keeps a number for the identity alone, in whichever socket it is plugged; each further one is
// remembered together with the socket it was first seen in (its USB path, such as 1-2.3:1.0, which survives
// reboots and plugging order, where ttyUSB<k> does not). An adapter found in such a socket gets that
// socket's number back; any other gets the identity's number, or a new one when an adapter of the same
// identity holds it already. Two identical adapters that swap sockets swap numbers: nothing on them tells
// them apart.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <functional>

namespace platform {

inline constexpr int kFirstAdapterNumber = 3;
inline constexpr int kLastPortNumber = 32767;

// A USB or ACM serial adapter that is plugged in.
struct Adapter {
    QString identity;    // the same wherever it is plugged in: vendor:product:serial, e.g. 0403:6001:A50285BI
    QString device;      // the node to open, e.g. /dev/ttyUSB0
    QString description; // e.g. "FT232R USB UART"
    QString location;    // the socket it is plugged into (its USB path, e.g. 1-2.3:1.0)
};

struct TableEntry {
    int number = 0;
    QString identity;
    QString location; // empty: in any socket
    QString description;
};

struct PortTable {
    QList<TableEntry> entries;
    bool changed = false; // to be written back
};

// The table's lines; comments and blank lines are skipped, lines that cannot be read dropped (changed).
PortTable parsePortTable(const QByteArray& text);
// The whole file for the entries, by number.
QByteArray formatPortTable(QList<TableEntry> entries);

// The adapters plugged in now, by number. Those seen for the first time get the lowest free number from 3
// up and are added to the table; `heldElsewhere` (asked only then) gives the numbers that links and UARTs
// hold.
QMap<int, Adapter> numberAdapters(PortTable& table, QList<Adapter> adapters,
                                  const std::function<QSet<int>()>& heldElsewhere);

} // namespace platform
