// SPDX-License-Identifier: MIT
// Port numbers: the order in which a number is looked up, numbers that stay with their adapter while
// adapters come and go, adapters that look alike, a damaged table, and the port list and its route to the
// port box's tooltip. The numbering and the table run on lists in memory; resolving and listing on folders
// of their own with the adapters given.

#include "device/texts.h"
#include "serial/ports.h"
#include "serial/porttable.h"
#include "support/ptydevice.h"
#include "system/programdir.h"

#include <QDir>
#include <QFile>
#include <QTest>

using platform::Adapter;
using platform::PortEntry;

namespace {

// Identity and socket of each adapter; D and E are one cheap model without a serial number.
const QMap<QString, QPair<QString, QString>> kAdapters = {
    {"A", {"0403:6001:A10", "1-1:1.0"}}, {"B", {"0403:6001:B20", "1-2:1.0"}},
    {"C", {"067b:2303:C30", "1-3:1.0"}}, {"D", {"1a86:7523:", "1-4:1.0"}},
    {"E", {"1a86:7523:", "1-5:1.0"}},
};

// "B A": the k-th adapter named is /dev/ttyUSB<k>, as the kernel numbers them in the order it finds them.
QList<Adapter> plugged(const QString& names) {
    QList<Adapter> adapters;
    for (const QString& letter : names.split(u' ', Qt::SkipEmptyParts)) {
        const auto& [identity, socket] = kAdapters[letter];
        adapters.append({identity, QStringLiteral("/dev/ttyUSB%1").arg(adapters.size()),
                         QStringLiteral("FT232R USB UART"), socket});
    }
    return adapters;
}

// "A=3 B=4": the number of each adapter plugged in.
QString numbers(const QMap<int, Adapter>& present, const QString& names) {
    const QStringList letters = names.split(u' ', Qt::SkipEmptyParts);
    const QList<Adapter> adapters = plugged(names);
    QStringList out;
    for (auto it = present.begin(); it != present.end(); ++it) {
        for (qsizetype k = 0; k < adapters.size(); ++k) {
            if (it->device == adapters[k].device) {
                out << QStringLiteral("%1=%2").arg(letters[k]).arg(it.key());
            }
        }
    }
    out.sort();
    return out.join(u' ');
}

// A program folder and a per-user folder of their own.
struct Folders {
    QTemporaryDir program;
    QTemporaryDir user;
    platform::SerialHardware hardware;
    platform::PortFolders paths() const { return {program.path(), user.path()}; }
    platform::HardwareSource source() const {
        return [this] { return hardware; };
    }
};

} // namespace

class tst_porttable : public QObject {
    Q_OBJECT

  private slots:
    void numbersStay_data();
    void numbersStay();
    void damagedTable_data();
    void damagedTable();
    void resolutionOrder_data();
    void resolutionOrder();
    void listing();
};

void tst_porttable::numbersStay_data() {
    QTest::addColumn<QList<int>>("held");   // numbers that links and UARTs hold
    QTest::addColumn<QStringList>("steps"); // "adapters plugged in -> their numbers"

    const QList<int> none;
    QTest::newRow("unplugged and plugged again")
        << none << QStringList{"A B -> A=3 B=4", "B -> B=4", "A B -> A=3 B=4"};
    QTest::newRow("new adapter while another is away")
        << none << QStringList{"A B -> A=3 B=4", "B -> B=4", "B C -> B=4 C=5", "C A B -> A=3 B=4 C=5"};
    QTest::newRow("nodes renamed after a reboot") << none << QStringList{"A B -> A=3 B=4", "B A -> A=3 B=4"};
    QTest::newRow("links and UARTs hold their numbers") << QList<int>{3, 4, 5} << QStringList{"A -> A=6"};
    QTest::newRow("two of one model")
        << none << QStringList{"D E -> D=3 E=4", "E -> E=4", "D -> D=3", "E D -> D=3 E=4", "E C -> C=5 E=4"};
}

// Each step goes through the table's file form, as between two runs.
void tst_porttable::numbersStay() {
    QFETCH(QList<int>, held);
    QFETCH(QStringList, steps);
    QByteArray file;
    for (const QString& step : steps) {
        const QStringList parts = step.split(QStringLiteral(" -> "));
        platform::PortTable table = platform::parsePortTable(file);
        const auto present = platform::numberAdapters(table, plugged(parts[0]),
                                                      [&] { return QSet<int>(held.begin(), held.end()); });
        QVERIFY2(numbers(present, parts[0]) == parts[1],
                 qPrintable(step + ": " + numbers(present, parts[0])));
        file = platform::formatPortTable(table.entries);
    }
}

void tst_porttable::damagedTable_data() {
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QByteArray>("rebuilt"); // the table's lines afterwards, comments left out

    QByteArray noise;
    for (int i = 0; i < 4096; ++i) {
        noise += char((i * 7919) % 256);
    }
    QTest::newRow("bytes of every value") << noise << "A=3 B=4"
                                          << QByteArray("3\t0403:6001:A10\t\tFT232R USB UART\n"
                                                        "4\t0403:6001:B20\t\tFT232R USB UART\n");
    QTest::newRow("edited by hand")
        << QByteArray("# mine\n4\t0403:6001:A10\nx\ty\n3\t\n99999\tz\n5\t0403:6001:A10\n"
                      "4\t0403:6001:B20\n")
        << "A=4 B=3" << QByteArray("3\t0403:6001:B20\t\tFT232R USB UART\n4\t0403:6001:A10\t\t\n");
}

// Lines that cannot be read are dropped and the table is written anew; numbering goes on.
void tst_porttable::damagedTable() {
    QFETCH(QByteArray, table);
    QFETCH(QString, numbers);
    QFETCH(QByteArray, rebuilt);
    platform::PortTable parsed = platform::parsePortTable(table);
    const auto present = platform::numberAdapters(parsed, plugged("A B"), [] { return QSet<int>(); });
    QCOMPARE(::numbers(present, "A B"), numbers);
    QVERIFY(parsed.changed);
    QByteArray lines;
    for (const QByteArray& line : platform::formatPortTable(parsed.entries).split('\n')) {
        lines += line.isEmpty() || line.startsWith('#') ? QByteArray() : line + '\n';
    }
    QCOMPARE(lines, rebuilt);
}

void tst_porttable::resolutionOrder_data() {
    QTest::addColumn<bool>("programLink");
    QTest::addColumn<bool>("userLink");
    QTest::addColumn<bool>("plugged");
    QTest::addColumn<QString>("opens");
    QTest::newRow("program folder's link first") << true << true << true << "program";
    QTest::newRow("per-user link before the adapter") << false << true << true << "user";
    QTest::newRow("adapter by its number") << false << false << true << "/dev/ttyUSB0";
    QTest::newRow("adapter away: the serial node") << false << false << false << "/dev/ttyS2";
    QTest::newRow("a table that cannot be written") << false << false << true << "unwritable";
}

// Port 3 after the adapter was given 3: links made later take the number over.
void tst_porttable::resolutionOrder() {
    QFETCH(bool, programLink);
    QFETCH(bool, userLink);
    QFETCH(bool, plugged);
    QFETCH(QString, opens);
    Folders f;
    f.hardware.adapters = ::plugged("A");
    QCOMPARE(platform::portPath(3, f.paths(), f.source()), QStringLiteral("/dev/ttyUSB0"));
    if (!plugged) {
        f.hardware.adapters.clear();
    }
    const QString inProgram = f.program.filePath("com3");
    const QString inUser = f.user.filePath("com3");
    QVERIFY(!programLink || QFile::link("/dev/null", inProgram));
    QVERIFY(!userLink || QFile::link("/nonexistent", inUser)); // a link to a device that is away counts too
    if (opens == "unwritable") {
        // The number given is lost with the table, but the adapter opens as port 3 all the same.
        QFile::remove(platform::portTablePath(f.user.path()));
        QVERIFY(QDir().mkpath(platform::portTablePath(f.user.path())));
        opens = "/dev/ttyUSB0";
    }
    const QString expected = opens == "program" ? inProgram : opens == "user" ? inUser : opens;
    QCOMPARE(platform::portPath(3, f.paths(), f.source()), expected);
    QCOMPARE(platform::portPath(0, f.paths(), f.source()), QString());
}

// Every number with its device, and how the operator reads it.
void tst_porttable::listing() {
    Folders f;
    QVERIFY(QFile::link("/dev/null", f.program.filePath("com1")));
    QVERIFY(QFile::link("/nonexistent", f.user.filePath("com2")));
    f.hardware.uartPorts = {1, 5};
    f.hardware.adapters = plugged("A B");
    QCOMPARE(platform::listPorts(f.paths(), f.source()).size(), 5);
    f.hardware.adapters = plugged("B");
    // A node this user may open, in place of the adapter's.
    QTemporaryDir nodes;
    f.hardware.adapters[0].device = nodes.filePath("ttyUSB0");
    QFile node(f.hardware.adapters[0].device);
    QVERIFY(node.open(QIODevice::WriteOnly));
    const QList<PortEntry> ports = platform::listPorts(f.paths(), f.source());
    QCOMPARE(texts::portList(ports.mid(0, 4)),
             QStringLiteral("1  link in the program folder (null)\n"
                            "2  link in the per-user folder (/nonexistent missing)\n"
                            "3  FT232R USB UART (not plugged in)\n"
                            "4  FT232R USB UART (%1)")
                 .arg(node.fileName()));
    QCOMPARE(ports[4].device, QStringLiteral("/dev/ttyS4"));
    QVERIFY(ports[0].present && ports[0].accessible && !ports[1].present && !ports[2].present);

    const PortEntry denied{3, "/dev/ttyUSB0", "FT232R USB UART", true, false};
    QCOMPARE(texts::portList({denied}), QStringLiteral("3  FT232R USB UART (ttyUSB0), no permission\n"
                                                       "no permission: add yourself to the dialout group: "
                                                       "sudo usermod -aG dialout $USER, then log in again"));
    QCOMPARE(texts::portList({}), QStringLiteral("no serial ports found"));
}

QTEST_MAIN(tst_porttable)
#include "tst_porttable.moc"
