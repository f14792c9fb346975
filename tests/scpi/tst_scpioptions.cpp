// SPDX-License-Identifier: MIT
// merovask-scpi's command line, as merovask-ctl has it: status 0 for help and version, 1 for a usage error
// with the pointer to --help, 2 for an address that cannot be listened on.

#include <QProcess>
#include <QTcpServer>
#include <QtTest>

class TestScpiOptions : public QObject {
    Q_OBJECT

  private slots:
    void options_data();
    void options();
};

void TestScpiOptions::options_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // a line of standard output or error
    QTest::newRow("version") << QStringList{"--version"} << 0 << "merovask-scpi " MEROVASK_VERSION;
    QTest::newRow("help")
        << QStringList{"--help"} << 0
        << "Usage: merovask-scpi [--port N] [--listen ADDR:PORT] [--allow LIST] [--device PATH] "
           "[--engineering]";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 1 << "Try 'merovask-scpi --help'.";
    QTest::newRow("argument") << QStringList{"5025"} << 1 << "merovask-scpi: unexpected argument '5025'";
    QTest::newRow("no port in --listen")
        << QStringList{"--listen", "127.0.0.1"} << 1 << "Try 'merovask-scpi --help'.";
    QTest::newRow("IPv6 without brackets")
        << QStringList{"--listen", "::1:5025"} << 1 << "Try 'merovask-scpi --help'.";
    QTest::newRow("bad network") << QStringList{"--allow", "127.0.0.0/33"} << 1
                                 << "Try 'merovask-scpi --help'.";
    QTest::newRow("port 70000") << QStringList{"--port", "70000"} << 1
                                << "merovask-scpi: '70000' is no port number";
    QTest::newRow("address in use") << QStringList{"--device", "/dev/null", "--listen", "127.0.0.1:BUSY"} << 2
                                    << "merovask-scpi: cannot listen on 127.0.0.1:BUSY: "
                                       "The bound address is already in use";
}

void TestScpiOptions::options() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, output);
    QTcpServer busy;
    QVERIFY(busy.listen(QHostAddress::LocalHost));
    const QString port = QString::number(busy.serverPort());
    args.replaceInStrings(QStringLiteral("BUSY"), port);
    QProcess program;
    program.start(QStringLiteral(MEROVASK_SCPI_PATH), args);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), status);
    const QString all =
        QString::fromLocal8Bit(program.readAllStandardOutput() + program.readAllStandardError());
    QVERIFY2(all.split(QLatin1Char('\n')).contains(output.replace(QStringLiteral("BUSY"), port)),
             qPrintable(all));
}

QTEST_MAIN(TestScpiOptions)
#include "tst_scpioptions.moc"
