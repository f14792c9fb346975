// Port numbers of USB adapters: the order in which a number is looked up, numbers that stay with their
// adapter while adapters come and go, adapters that look alike, a damaged table, and the port box's list.
// Real pseudo-terminals stand in for the adapters' nodes; the hardware seam lists them as adapters.

#include "platform/MSComm.h"
#include "platform/ports.h"
#include "platform/userdir.h"
#include "support/panel.h"

#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QTest>

using platform::PortEntry;
using testsupport::Panel;
using testsupport::PtyDevice;

namespace {

// Identity and socket of each adapter; D and E are one cheap model without a serial number.
const QMap<QString, QPair<QString, QString>> kAdapters = {
    {"A", {"0403:6001:A10", "1-1:1.0"}}, {"B", {"0403:6001:B20", "1-2:1.0"}},
    {"C", {"067b:2303:C30", "1-3:1.0"}}, {"D", {"1a86:7523:", "1-4:1.0"}},
    {"E", {"1a86:7523:", "1-5:1.0"}},
};

// A program folder and a per-user folder of their own, and the adapters plugged in now.
struct Desk {
    Panel panel{{}, false};
    QTemporaryDir nodes;
    std::vector<std::unique_ptr<PtyDevice>> ptys;
    QStringList letters;
    platform::SerialHardware hardware;

    Desk() {
        platform::setHardwareSourceForTests([this] { return hardware; });
    }
    ~Desk() { platform::setHardwareSourceForTests({}); }
    QString folder() const { return panel.dir.path(); }

    PtyDevice& node(std::size_t k) {
        while (ptys.size() <= k) {
            ptys.push_back(std::make_unique<PtyDevice>(nodes.path(), 100 + static_cast<int>(ptys.size())));
        }
        return *ptys[k];
    }

    // "B A": the k-th adapter named gets the k-th node, as the kernel numbers ttyUSB<k> in the order it
    // finds them.
    void plug(const QString& names) {
        letters = names.split(u' ', Qt::SkipEmptyParts);
        hardware.adapters.clear();
        for (std::size_t k = 0; k < std::size_t(letters.size()); ++k) {
            const auto& [identity, socket] = kAdapters[letters[qsizetype(k)]];
            hardware.adapters.append(
                {identity, node(k).slavePath(), QStringLiteral("FT232R USB UART"), socket});
        }
    }

    // "A=3 B=4": the number listed for each adapter plugged in.
    QString numbers() const {
        QStringList out;
        for (const PortEntry& e : platform::listPorts(folder())) {
            for (qsizetype k = 0; k < letters.size(); ++k) {
                if (e.present && e.device == hardware.adapters[k].device) {
                    out << QStringLiteral("%1=%2").arg(letters[k]).arg(e.number);
                }
            }
        }
        out.sort();
        return out.join(u' ');
    }
};

} // namespace

class tst_porttable : public QObject {
    Q_OBJECT

  private slots:
    void resolutionOrder_data();
    void resolutionOrder();
    void numbersStay_data();
    void numbersStay();
    void damagedTable_data();
    void damagedTable();
    void noPermissionText();
    void tooltipWhenHovered();
};

void tst_porttable::resolutionOrder_data() {
    QTest::addColumn<bool>("programLink");
    QTest::addColumn<bool>("userLink");
    QTest::addColumn<bool>("plugged");
    QTest::addColumn<QString>("opens");
    QTest::newRow("program folder's link first") << true << true << true << "program";
    QTest::newRow("per-user link before the adapter") << false << true << true << "user";
    QTest::newRow("adapter by its number") << false << false << true << "adapter";
    QTest::newRow("adapter away: the serial node") << false << false << false << "/dev/ttyS2";
}

// Port 3 after the adapter was given 3: links made later take the number over.
void tst_porttable::resolutionOrder() {
    QFETCH(bool, programLink);
    QFETCH(bool, userLink);
    QFETCH(bool, plugged);
    QFETCH(QString, opens);
    Desk desk;
    desk.plug(QStringLiteral("A"));
    QCOMPARE(desk.numbers(), QStringLiteral("A=3"));
    desk.plug(plugged ? QStringLiteral("A") : QString());
    QVERIFY(QDir().mkpath(platform::userDir()));
    const auto inProgram = programLink ? std::make_unique<PtyDevice>(desk.folder(), 3) : nullptr;
    const auto inUser = userLink ? std::make_unique<PtyDevice>(platform::userDir(), 3) : nullptr;
    if (opens.startsWith(u'/')) {
        QCOMPARE(platform::portPath(3, desk.folder()), opens);
        return;
    }
    PtyDevice& expected = opens == "program" ? *inProgram : opens == "user" ? *inUser : desk.node(0);
    platform::MSComm comm;
    QCOMPARE(comm.setCommPort(3), 0);
    QCOMPARE(comm.setPortOpen(true), 0);
    QCOMPARE(comm.Output("v,"), 0);
    QVERIFY(expected.waitForCommands(1, 3000));
    PtyDevice::pump(50);
    for (PtyDevice* other : {inProgram.get(), inUser.get(), &desk.node(0)}) {
        QVERIFY(other == nullptr || other == &expected || other->commands().empty());
    }
}

void tst_porttable::numbersStay_data() {
    QTest::addColumn<QList<int>>("held"); // links com3 (program folder), com5 (per-user folder), a UART as 4
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

void tst_porttable::numbersStay() {
    QFETCH(QList<int>, held);
    QFETCH(QStringList, steps);
    Desk desk;
    if (!held.isEmpty()) {
        QVERIFY(QDir().mkpath(platform::userDir()));
        QVERIFY(QFile::link(QStringLiteral("/nonexistent"), desk.folder() + QStringLiteral("/com3")));
        QVERIFY(QFile::link(QStringLiteral("/nonexistent"), platform::userDir() + QStringLiteral("/com5")));
        desk.hardware.uartPorts = {4};
    }
    for (const QString& step : steps) {
        const QStringList parts = step.split(QStringLiteral(" -> "));
        desk.plug(parts[0]);
        QVERIFY2(desk.numbers() == parts[1], qPrintable(step + QStringLiteral(": ") + desk.numbers()));
    }
}

void tst_porttable::damagedTable_data() {
    QTest::addColumn<QByteArray>("table"); // empty: a folder in the table's place
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
    QTest::newRow("a folder in its place") << QByteArray() << "A=3 B=4" << QByteArray();
}

// Lines that cannot be read are dropped and the table is written anew; numbering goes on.
void tst_porttable::damagedTable() {
    QFETCH(QByteArray, table);
    QFETCH(QString, numbers);
    QFETCH(QByteArray, rebuilt);
    Desk desk;
    QVERIFY(QDir().mkpath(table.isEmpty() ? platform::portTablePath() : platform::userDir()));
    QFile file(platform::portTablePath());
    if (!table.isEmpty()) {
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(table) == table.size());
        file.close();
    }
    desk.plug(QStringLiteral("A B"));
    QCOMPARE(desk.numbers(), numbers);
    QByteArray lines;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            lines += line.isEmpty() || line.startsWith('#') ? QByteArray() : line + '\n';
        }
    }
    QCOMPARE(lines, rebuilt);
}

void tst_porttable::noPermissionText() {
    const PortEntry port{3, PortEntry::Kind::Adapter, "/dev/ttyUSB0", "FT232R USB UART", true, false};
    QCOMPARE(platform::portListText({port}),
             QStringLiteral("3  FT232R USB UART (ttyUSB0), no permission\n"
                            "no permission: add yourself to the dialout group: "
                            "sudo usermod -aG dialout $USER, then log in again"));
}

// The list is made when the operator points at the port box, so it shows the adapters plugged in then.
void tst_porttable::tooltipWhenHovered() {
    Desk desk;
    desk.panel.device = std::make_unique<PtyDevice>(desk.folder(), 1);
    desk.plug(QStringLiteral("A"));
    desk.panel.start();
    QLineEdit* box = desk.panel.w->Text1;
    const auto hover = [box] {
        QHelpEvent event(QEvent::ToolTip, QPoint(4, 4), box->mapToGlobal(QPoint(4, 4)));
        QCoreApplication::sendEvent(box, &event);
        return box->toolTip();
    };
    const auto line = [](int number, const PtyDevice& device) {
        return QStringLiteral("\n%1  FT232R USB UART (%2)").arg(number).arg(device.slavePath().mid(5));
    };
    const QString com1 =
        QStringLiteral("1  link in the program folder (%1)").arg(desk.panel.device->slavePath().mid(5));
    QCOMPARE(hover(), com1 + line(3, desk.node(0)));
    desk.plug(QStringLiteral("A B"));
    QCOMPARE(hover(), com1 + line(3, desk.node(0)) + line(4, desk.node(1)));
    desk.plug({});
    QCOMPARE(hover(), com1 + "\n3  FT232R USB UART (not plugged in)\n4  FT232R USB UART (not plugged in)");
    VERIFY_BOXES(desk.panel.boxes);
}

QTEST_MAIN(tst_porttable)
#include "tst_porttable.moc"
