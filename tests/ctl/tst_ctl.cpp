// SPDX-License-Identifier: MIT
// merovask-ctl as a script runs it: a copy of the program in a folder of its own, the device on a real
// pseudo-terminal linked there as com1; what reaches the line, what comes out, and the exit status.

#include "calibration/calfile.h"
#include "line/serialline.h"
#include "support/ptydevice.h"
#include "system/programdir.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <pty.h>
#include <unistd.h>

using testsupport::PtyDevice;

namespace {

struct Result {
    int status = -1;
    QStringList out; // lines of standard output
    QString err;
    qint64 ms = 0;
};

// The program folder: the tool, the device as com1, and a settings file when one is given.
struct Folder {
    QTemporaryDir dir;
    std::unique_ptr<PtyDevice> device;
    QString tool = dir.filePath(QStringLiteral("merovask-ctl"));

    explicit Folder(const QByteArray& ini = {}, const QString& where = {}) {
        const QString folder = where.isEmpty() ? dir.path() : where;
        tool = folder + QStringLiteral("/merovask-ctl");
        QFile::remove(tool);
        QFile::copy(QStringLiteral(MEROVASK_CTL_PATH), tool);
        QFile::copy(QStringLiteral(MEROVASK_PLOT_PATH), folder + QStringLiteral("/merovask-plot"));
        QFile file(folder + QStringLiteral("/merovask.ini"));
        if (!ini.isEmpty() && file.open(QIODevice::WriteOnly)) {
            file.write(ini);
        }
        if (where.isEmpty()) {
            device = std::make_unique<PtyDevice>(dir.path(), 1);
            // Each command is answered with its own text, so the output shows which reply is which.
            device->setScript([](const QByteArray& command) { return command.left(20) + ' '; });
        }
    }

    Result run(const QStringList& args, const QString& input = {}) const {
        QProcess process;
        if (!input.isEmpty()) {
            process.setStandardInputFile(input);
        }
        QElapsedTimer took;
        took.start();
        process.start(tool, args);
        if (!process.waitForStarted(10000)) {
            return Result{-2, {}, process.errorString(), took.elapsed()};
        }
        // Keep this thread's events running: a panel in the same test may hold the port.
        while (process.state() != QProcess::NotRunning && !process.waitForFinished(10)) {
            QCoreApplication::processEvents();
            if (took.elapsed() > 30000) {
                process.kill();
            }
        }
        Result r{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                 QString::fromLatin1(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
                 QString::fromLocal8Bit(process.readAllStandardError()), took.elapsed()};
        return r;
    }
};

QStringList lineOf(const PtyDevice& device) {
    QStringList out;
    for (const auto& command : device.commands()) {
        out << QString::fromLatin1(command.text);
    }
    return out;
}

const QString kTable = QStringLiteral(MEROVASK_TEST_DATA "/cal_rows10.txt");

} // namespace

class TestCtl : public QObject {
    Q_OBJECT

  private slots:
    void commands_data();
    void commands();
    void jsonAndGaps();
    void calibrationFiles();
    void upload_data();
    void upload();
    void portInUse();
    void monitorEndsOnSignal();
};

// What each command line puts on the line, prints and returns. Usage errors send nothing.
void TestCtl::commands_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");

    const QByteArray narrow = "[tfilter]\r\nSWmin=1520\r\nSWmax=1530\r\n";
    const auto row = [](const char* name, const QStringList& args, const QStringList& line, int status = 0,
                        const QString& err = {}, const QByteArray& ini = {}) {
        QTest::newRow(name) << args << ini << line << status << err;
    };
    row("tune limited", {"tune", "1600"}, {"C1589"}, 0, "wavelength 1600 sent as 1589 (range 1510~1589)");
    row("tune read as a box", {"tune", "15 50"}, {"C1550"});
    row("tune no number", {"tune", "abc"}, {"C1510"}, 0, "wavelength abc sent as 1510");
    row("tune too large", {"tune", "3e10"}, {"C1510"}, 0, "wavelength 3e10 sent as 1510");
    row("tune settings range", {"tune", "1600"}, {"C1530"}, 0, "range 1520~1530", narrow);
    row("up", {"up", "45"}, {"I30"}, 0, "steps 45 sent as 30 (range 1~30)");
    row("up negative", {"up", "-5"}, {"I1"}, 0, "steps -5 sent as 1");
    row("down halves", {"down", "2.5"}, {"D2"});
    row("calibrate", {"calibrate"}, {"Z"});
    row("scan-setup", {"scan-setup", "1400", "1600", "500"}, {"L1510", "H1589", "T300"}, 0,
        "start 1400 sent as 1510 (range 1510~1589)\nmerovask-ctl: end 1600 sent as 1589 (range "
        "1510~1589)\nmerovask-ctl: stay time 500 sent as 300 (range 1~300)");
    row("scan-setup unconvertible end", {"scan-setup", "1520", "3e10", "3e10"}, {"L1520", "H1520", "T300"}, 0,
        "end 3e10 sent as 1520");
    row("scan", {"scan", "0"}, {"S1"}, 0, "span 0 sent as 1");
    row("switch", {"switch", "3"}, {"C"});
    row("get", {"get"}, {"W103", "W104", "W105"});
    row("send", {"send", " v "}, {"v "});
    row("send get with a blank", {"send", "get "}, {"get "});
    row("port from the settings", {"tune", "1550"}, {}, 2, "no such port 2", "[tfilter]\r\nport=2\r\n");
    row("port option", {"--port", "7", "tune", "1550"}, {}, 2, "no such port 7");
    row("missing argument", {"tune"}, {}, 1, "usage: merovask-ctl tune WAVELENGTH");
    row("extra argument", {"calibrate", "1"}, {}, 1, "usage: merovask-ctl calibrate");
    row("unknown command", {"bogus"}, {}, 1, "unknown command 'bogus'");
    row("bad timeout", {"--timeout", "x", "get"}, {}, 1, "--timeout");
    row("no such output", {"switch", "5"}, {}, 1, "switch takes an output 1, 2, 3 or 4");
    row("--yes elsewhere", {"--yes", "get"}, {}, 1, "--yes goes with upload only");
}

void TestCtl::commands() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, line);
    QFETCH(int, status);
    QFETCH(QString, err);

    Folder folder(ini);
    const Result r = folder.run(args);
    QCOMPARE(r.status, status);
    QVERIFY2(r.err.contains(err), qPrintable(r.err));
    QVERIFY(folder.device->sync());
    QCOMPARE(lineOf(*folder.device), line);
    if (status == 0) {
        QCOMPARE(r.out, line); // one reply per command, without its closing blank
        QCOMPARE(r.err.isEmpty(), err.isEmpty());
    }
}

// --json gives one object per reply (and per port), the last after the operation's pauses; a silent device.
void TestCtl::jsonAndGaps() {
    Folder folder;
    const struct {
        QStringList args;
        double pause;
    } runs[] = {{{"--json", "scan-setup", "1510", "1589", "1"}, 500}, {{"--json", "get"}, 50}};
    for (const auto& run : runs) {
        folder.device->clear();
        const Result r = folder.run(run.args);
        QCOMPARE(r.status, 0);
        QVERIFY(folder.device->sync());
        const auto sent = folder.device->commands();
        QCOMPARE(r.out.size(), qsizetype(sent.size()));
        double last = 0;
        for (qsizetype i = 0; i < r.out.size(); ++i) {
            const QJsonObject reply = QJsonDocument::fromJson(r.out[i].toLatin1()).object();
            QCOMPARE(reply.value("command").toString(), QString::fromLatin1(sent[std::size_t(i)].text));
            QCOMPARE(reply.value("reply").toString(), QString::fromLatin1(sent[std::size_t(i)].text));
            QVERIFY(reply.value("t").toDouble() > last);
            last = reply.value("t").toDouble();
        }
        // The last reply cannot come before the pauses between the commands are over: a bound that holds
        // however late the device's thread reads. The pauses one by one are tst_line's, on the same
        // operations; how close to them the tool comes is a figure of the benchmark.
        const double pauses = static_cast<double>(sent.size() - 1) * run.pause / 1000.0;
        QVERIFY2(last >= pauses, qPrintable(QStringLiteral("%1 s, pauses %2 s").arg(last).arg(pauses)));
    }
    const Result ports = folder.run({"--json", "ports"});
    QCOMPARE(ports.status, 0);
    const QJsonObject first = QJsonDocument::fromJson(ports.out.value(0).toLatin1()).object();
    QCOMPARE(first.value("port").toInt(), 1);
    QCOMPARE(first.value("device").toString(), folder.device->slavePath());
    folder.device->setMode(PtyDevice::Mode::Silent);
    const Result silent = folder.run({"--timeout", "300", "tune", "1550"});
    QCOMPARE(silent.status, 3);
    QCOMPARE(silent.err, QStringLiteral("merovask-ctl: no response form device\n"));
    QVERIFY(silent.ms >= 300);
}

// Every table that the panel refuses is refused with the panel's own message; check sends nothing.
void TestCtl::calibrationFiles() {
    Folder folder;
    const QStringList files = QDir(QStringLiteral(MEROVASK_TEST_DATA)).entryList({"cal_*"}, QDir::Files);
    QVERIFY(files.size() >= 10);
    for (const QString& name : files + QStringList{"missing.txt"}) {
        const QString path = QStringLiteral(MEROVASK_TEST_DATA "/") + name;
        calibration::CalTable table;
        const calibration::ReadResult expected = calibration::readCalibrationFile(path, table);
        const Result r = folder.run({"check", path});
        if (expected.kind == calibration::ReadResult::Ok) {
            QCOMPARE(r.status, 0);
            QCOMPARE(r.out, QStringList(QStringLiteral("%1 rows, %2 to %3")
                                            .arg(expected.rowCount)
                                            .arg(table.calMin)
                                            .arg(table.calMax)));
        } else {
            QCOMPARE(r.status, 4);
            QCOMPARE(r.err, QStringLiteral("merovask-ctl: ") + expected.message + '\n');
        }
    }
    const QString png = folder.dir.filePath(QStringLiteral("table.png"));
    QCOMPARE(folder.run({"check", kTable, "--plot", png}).status, 0);
    QVERIFY(!QImage(png).isNull());
    QCOMPARE(folder.device->received(), QByteArray());
}

// The upload: asked on a terminal, refused without one, and what a silent device leaves behind.
void TestCtl::upload_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("answer"); // typed on the terminal; empty: no terminal
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("stored");

    QTest::newRow("yes") << QStringList{"upload", kTable, "--yes"} << QByteArray() << false << 0 << 30
                         << true;
    QTest::newRow("answered y") << QStringList{"upload", kTable} << QByteArray("y\n") << false << 0 << 30
                                << true;
    QTest::newRow("answered n") << QStringList{"upload", kTable} << QByteArray("n\n") << false << 1 << 0
                                << false;
    QTest::newRow("no terminal") << QStringList{"upload", kTable} << QByteArray() << false << 1 << 0 << false;
    QTest::newRow("silent") << QStringList{"upload", kTable, "--yes"} << QByteArray() << true << 3 << 20
                            << false;
}

void TestCtl::upload() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, answer);
    QFETCH(bool, silent);
    QFETCH(int, status);
    QFETCH(int, sent);
    QFETCH(bool, stored);

    Folder folder("[tfilter]\r\nSWmin=1500\r\nSWmax=1600\r\n");
    folder.device->setMode(silent ? PtyDevice::Mode::Silent : PtyDevice::Mode::Whole);
    int master = -1;
    int slave = -1;
    QString terminal;
    if (!answer.isEmpty()) {
        QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
        terminal = QString::fromLatin1(::ttyname(slave));
        QVERIFY(::write(master, answer.constData(), std::size_t(answer.size())) == answer.size());
    }
    const Result r = folder.run(args, terminal);
    if (master >= 0) {
        ::close(master);
        ::close(slave);
    }
    QCOMPARE(r.status, status);
    QVERIFY(folder.device->sync());
    const QStringList line = lineOf(*folder.device);
    QCOMPARE(line.size(), sent);
    QFile ini(folder.dir.filePath(QStringLiteral("merovask.ini")));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray settings = ini.readAll();
    QCOMPARE(settings.contains("SWmin=1517\r\nSWmax=1589"), stored);
    if (stored) {
        QCOMPARE(line.mid(20, 4), (QStringList{"X101", "Y1517", "X102", "Y1589"}));
        QVERIFY(r.err.endsWith(
            QStringLiteral("plese reset the tunable filter device's power and this software!\n")));
    }
    if (!answer.isEmpty()) {
        QVERIFY(
            r.err.contains(QStringLiteral("the wave range is from 1517 to 1589 total 10, correct? [y/n]")));
    }
    if (silent) {
        QVERIFY(r.err.contains(
            QStringLiteral("error, no response from device, check RS232 connection and device power")));
    }
}

// Another program (here the serial line of this test, as the panel holds it) has the port: the tool is told
// so and sends nothing.
void TestCtl::portInUse() {
    Folder folder;
    platform::setProgramDirForTests(folder.dir.path());
    devlink::SerialLine holder;
    QCOMPARE(holder.open(QStringLiteral("1")), devlink::SerialLine::OpenEnd::Opened);
    const Result r = folder.run({"tune", "1550"});
    platform::setProgramDirForTests({});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(QStringLiteral("is in use by another program")), qPrintable(r.err));
    QVERIFY(folder.device->sync());
    QCOMPARE(folder.device->received(), QByteArray());
}

// monitor prints what arrives with its time and ends cleanly on either signal.
void TestCtl::monitorEndsOnSignal() {
    Folder folder;
    for (const int signal : {SIGINT, SIGTERM}) {
        QProcess monitor;
        monitor.start(folder.tool, {"monitor"});
        QVERIFY(monitor.waitForStarted());
        // The reply is sent again until the monitor, once its port is open, prints it; two that come
        // together are one reply.
        QElapsedTimer waited;
        waited.start();
        do {
            folder.device->inject("P40 ");
        } while (!monitor.waitForReadyRead(100) && waited.elapsed() < 5000);
        QByteArray out;
        QTRY_VERIFY((out += monitor.readAllStandardOutput()).endsWith('\n'));
        QVERIFY2(QRegularExpression(QStringLiteral("^(\\d+\\.\\d{3} P40( P40)*\n)+$"))
                     .match(QString::fromLatin1(out))
                     .hasMatch(),
                 out.constData());
        ::kill(static_cast<pid_t>(monitor.processId()), signal);
        QVERIFY(monitor.waitForFinished(2000));
        QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
        QCOMPARE(monitor.exitCode(), 0);
    }
}

QTEST_MAIN(TestCtl)
#include "tst_ctl.moc"
