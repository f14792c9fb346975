// SPDX-License-Identifier: MIT
// The port button against a real pseudo-terminal: opening, closing, bad port numbers, a device that hangs up.

#include "device/texts.h"
#include "serial/ports.h"
#include "support/panel.h"
#include "system/programdir.h"

#include <QFile>
#include <QHelpEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTest>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::Panel;
using testsupport::PtyDevice;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Sends a command through the transmitter and waits until it reaches the device.
bool reaches(Panel& panel, const QString& command) {
    const std::size_t before = panel.device->commands().size();
    serialLine(panel.w).SendCommand(command + QLatin1Char(','));
    return panel.device->waitForCommands(before + 1, 3000) &&
           panel.device->commands().back().text == command.toLatin1();
}

} // namespace

class tst_port : public QObject {
    Q_OBJECT
  private slots:
    void tooltipWhenHovered();
    void startupOpensStoredPort();
    void toggleClosesAndReopens();
    void portNumbers_data();
    void portNumbers();
    void nonTerminalFailsSilently();
    void missingStoredPortReportedAtStart();
    void hangUpWhileOpen();
    void partialReplySurvivesReopen();
    void refusedPort_data();
    void refusedPort();
};

void tst_port::startupOpensStoredPort() {
    Panel panel;
    panel.start();
    QCOMPARE(panel.replies(), QStringList{"open successfully"});
    QCOMPARE(ui(panel.w).Command1->text(), QString("close"));
    QVERIFY(serialLine(panel.w).portOpen());
    QCOMPARE(serialLine(panel.w).port().Settings(), QString("9600,N,8,1"));
    QVERIFY(reaches(panel, "v"));
    VERIFY_BOXES(panel.boxes);
}

void tst_port::toggleClosesAndReopens() {
    Panel panel;
    panel.start();
    ui(panel.w).Command1->click();
    QCOMPARE(panel.replies(), (QStringList{"open successfully", "close successfully"}));
    QCOMPARE(ui(panel.w).Command1->text(), QString("open"));
    QVERIFY(!serialLine(panel.w).portOpen());
    QVERIFY(!serialLine(panel.w).port().PortOpen());

    panel.boxes.expect("please open comm port");
    serialLine(panel.w).SendCommand("v,");
    QVERIFY(panel.device->sync());
    QVERIFY(panel.device->received().isEmpty());

    ui(panel.w).Command1->click();
    QCOMPARE(ui(panel.w).Command1->text(), QString("close"));
    QCOMPARE(panel.replies().last(), QString("open successfully"));
    QVERIFY(reaches(panel, "z"));
    VERIFY_BOXES(panel.boxes);
}

void tst_port::portNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // empty: no box
    QTest::addColumn<bool>("opens");

    QTest::newRow("2.5 rounds to port 2") << "2.5"
                                          << "" << true;
    QTest::newRow("3.5 rounds to port 4") << "3.5"
                                          << "" << true;
    QTest::newRow("blanks skipped") << " 2  "
                                    << "" << true;
    QTest::newRow("no such port") << "40"
                                  << "can't open comm port 40" << false;
    QTest::newRow("zero") << "0"
                          << "can't open comm port 0" << false;
    QTest::newRow("letters read as 0") << "COM3"
                                       << "can't open comm port 0" << false;
    QTest::newRow("negative") << "-3"
                              << "can't open comm port -3" << false;
    QTest::newRow("too large for 16 bits") << "70000"
                                           << "" << false;
}

void tst_port::portNumbers() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(bool, opens);

    Panel panel;
    // Ports 2 and 4 exist beside the stored port 1.
    PtyDevice port2(panel.dir.path(), 2);
    PtyDevice port4(panel.dir.path(), 4);
    panel.start();
    ui(panel.w).Command1->click(); // close port 1
    ui(panel.w).Text1->setText(text);
    if (!message.isEmpty()) {
        panel.boxes.expect(message);
    }
    const int linesBefore = ui(panel.w).List2->count();
    ui(panel.w).Command1->click();

    QCOMPARE(serialLine(panel.w).portOpen(), opens);
    QCOMPARE(ui(panel.w).Command1->text(), QString(opens ? "close" : "open"));
    QCOMPARE(ui(panel.w).List2->count(), linesBefore + (opens ? 1 : 0));
    if (opens) {
        PtyDevice& expected = text.startsWith("3") ? port4 : port2;
        serialLine(panel.w).SendCommand("v,");
        QVERIFY(expected.waitForCommands(1, 3000));
        QVERIFY(panel.device->commands().empty());
    }
    VERIFY_BOXES(panel.boxes);
}

void tst_port::nonTerminalFailsSilently() {
    Panel panel;
    panel.start();
    ui(panel.w).Command1->click();
    QFile regular(panel.path("com5"));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    ui(panel.w).Text1->setText("5");
    ui(panel.w).Command1->click();
    QVERIFY(!serialLine(panel.w).portOpen());
    QCOMPARE(ui(panel.w).Command1->text(), QString("open"));
    QCOMPARE(panel.replies().last(), QString("close successfully"));
    VERIFY_BOXES(panel.boxes);
}

void tst_port::missingStoredPortReportedAtStart() {
    Panel panel("[tfilter]\r\nport=41\r\n");
    panel.boxes.expect("can't open comm port 41");
    panel.start();
    QVERIFY(!serialLine(panel.w).portOpen());
    QCOMPARE(ui(panel.w).Command1->text(), QString("open"));
    QVERIFY(panel.replies().isEmpty());
    VERIFY_BOXES(panel.boxes);
}

void tst_port::hangUpWhileOpen() {
    Panel panel;
    panel.start();
    QVERIFY(reaches(panel, "v"));

    panel.device->hangUp();
    QTRY_VERIFY(!serialLine(panel.w).port().PortOpen());
    // A port that reports errors without end would keep this thread busy from the first moment; a closed
    // one costs nothing.
    const double cpuBefore = cpuSeconds();
    PtyDevice::pump(250);
    const double cpu = cpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.05, qPrintable(QString("CPU %1 s in 0.25 s after hang-up").arg(cpu)));

    // Writes to the vanished device go nowhere, silently.
    serialLine(panel.w).SendCommand("z,");

    panel.device->reopen();
    ui(panel.w).Command1->click();
    QCOMPARE(ui(panel.w).Command1->text(), QString("open"));
    QCOMPARE(panel.replies().last(), QString("close successfully"));
    ui(panel.w).Command1->click();
    QCOMPARE(panel.replies().last(), QString("open successfully"));
    QVERIFY(reaches(panel, "p"));
    VERIFY_BOXES(panel.boxes);
}

void tst_port::partialReplySurvivesReopen() {
    Panel panel;
    panel.start();
    panel.device->inject("O");
    QTRY_COMPARE(serialLine(panel.w).pendingBytes(), 1);
    ui(panel.w).Command1->click();
    ui(panel.w).Command1->click();
    panel.device->inject("K ");
    QTRY_COMPARE(panel.replies().last(), QString("OK "));
}

void tst_port::refusedPort_data() {
    QTest::addColumn<bool>("permitted");
    QTest::newRow("no permission") << false;
    QTest::newRow("in use") << true;
}

// Both stay closed without a box; only the one the operator can fix is named, in one line on standard error.
void tst_port::refusedPort() {
    QFETCH(bool, permitted);
    if (qEnvironmentVariableIsEmpty("MEROVASK_TEST_CHILD")) {
        // The case runs in a child whose standard error can be read; as nobody when root, who opens anything.
        QStringList args{QCoreApplication::applicationFilePath(),
                         QStringLiteral("refusedPort:") + QTest::currentDataTag()};
        if (::geteuid() == 0) {
            args = QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} + args;
        }
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MEROVASK_TEST_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.start(args.first(), args.mid(1));
        if (!child.waitForStarted()) {
            QSKIP("setpriv is not available");
        }
        QVERIFY(child.waitForFinished(60000));
        const QString said = QString::fromLocal8Bit(child.readAllStandardError());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(QString::fromLocal8Bit(child.readAllStandardOutput()) + said));
        const QRegularExpression line(
            QStringLiteral("^merovask: no permission to open /dev/pts/\\d+ \\(port 1\\): "
                           "add yourself to the dialout group$"),
            QRegularExpression::MultilineOption);
        QCOMPARE(said.count(line), permitted ? 0 : 1);
        return;
    }
    Panel panel;
    QSerialPort holder(panel.device->slavePath());
    QVERIFY(permitted ? holder.open(QIODevice::ReadWrite)
                      : ::chmod(QFile::encodeName(panel.device->slavePath()).constData(), 0) == 0);
    panel.start();
    QVERIFY(!serialLine(panel.w).portOpen());
    QVERIFY(panel.replies().isEmpty());
    VERIFY_BOXES(panel.boxes);
}

// The list is made when the operator points at the port box, so it shows what is there then.
void tst_port::tooltipWhenHovered() {
    testsupport::Panel panel;
    panel.start();
    QLineEdit* box = ui(panel.w).Text1;
    const auto hover = [box] {
        QHelpEvent event(QEvent::ToolTip, QPoint(4, 4), box->mapToGlobal(QPoint(4, 4)));
        QCoreApplication::sendEvent(box, &event);
        return box->toolTip();
    };
    const QString before = hover();
    QVERIFY2(before.startsWith(
                 QStringLiteral("1  link in the program folder (%1)").arg(panel.device->slavePath().mid(5))),
             qPrintable(before));
    testsupport::PtyDevice added(panel.dir.path(), 7);
    QCOMPARE(hover(), texts::portList(platform::listPorts(platform::programDir())));
    QVERIFY(hover().contains(QStringLiteral("\n7  link in the program folder")));
    VERIFY_BOXES(panel.boxes);
}

QTEST_MAIN(tst_port)
#include "tst_port.moc"
