// SPDX-License-Identifier: MIT
// bridge<N>.conf: what counts as HOST:PORT, what a file that is not one says, and how the port list names a
// bridge that is connected, down or wrongly configured.

#include "device/texts.h"
#include "serial/bridge.h"
#include "serial/ports.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using platform::BridgeConf;

class TestBridge : public QObject {
    Q_OBJECT

  private slots:
    void parse_data();
    void parse();
    void file_data();
    void file();
    void portList();
};

// An empty host expects a problem that contains `problem`.
void TestBridge::parse_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("problem");

    QTest::newRow("name") << QByteArray("lab-pc:3001") << "lab-pc" << 3001 << "";
    QTest::newRow("blanks, CRLF") << QByteArray(" \t127.0.0.20:3001 \r\n") << "127.0.0.20" << 3001 << "";
    QTest::newRow("comments, blank lines")
        << QByteArray("# lab 2\n\n  # rack 4\nlab_pc.example:1\n\n") << "lab_pc.example" << 1 << "";
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFlab-pc:65535") << "lab-pc" << 65535 << "";
    QTest::newRow("IPv6") << QByteArray("[::1]:3001") << "[::1]" << 3001 << "";

    QTest::newRow("empty") << QByteArray() << "" << 0 << "is empty";
    QTest::newRow("only comments") << QByteArray("# lab-pc:3001\n \n") << "" << 0 << "is empty";
    QTest::newRow("two lines") << QByteArray("a:1\nb:2\n") << "" << 0 << "has more than one line";
    QTest::newRow("huge") << QByteArray(5000, 'a') << "" << 0 << "is too large to be one line HOST:PORT";
    const auto wrong = [](const char* text) {
        return QStringLiteral("holds \"%1\", not HOST:PORT").arg(text);
    };
    QTest::newRow("no port") << QByteArray("lab-pc") << "" << 0 << wrong("lab-pc");
    QTest::newRow("no host") << QByteArray(":3001") << "" << 0 << wrong(":3001");
    QTest::newRow("port 0") << QByteArray("lab-pc:0") << "" << 0 << wrong("lab-pc:0");
    QTest::newRow("port 65536") << QByteArray("lab-pc:65536") << "" << 0 << wrong("lab-pc:65536");
    QTest::newRow("signed port") << QByteArray("lab-pc:+3001") << "" << 0 << wrong("lab-pc:+3001");
    QTest::newRow("blank inside") << QByteArray("lab pc:3001") << "" << 0 << wrong("lab pc:3001");
    QTest::newRow("bare IPv6") << QByteArray("::1:3001") << "" << 0 << wrong("::1:3001");
    QTest::newRow("empty brackets") << QByteArray("[]:3001") << "" << 0 << wrong("[]:3001");
    // What socat would read as more of its own command line.
    QTest::newRow("socat option") << QByteArray("lab-pc,fork:3001") << "" << 0 << wrong("lab-pc,fork:3001");
    QTest::newRow("second address") << QByteArray("a!!b:3001") << "" << 0 << wrong("a!!b:3001");
    QTest::newRow("option-like host") << QByteArray("-d:3001") << "" << 0 << wrong("-d:3001");
    QTest::newRow("markup, control bytes") << QByteArray("<b>x</b>\x01:1") << "" << 0 << wrong("?b?x?/b??:1");
    QTest::newRow("long line") << QByteArray(300, 'x') << "" << 0 << wrong(QByteArray(40, 'x') + "...");
}

void TestBridge::parse() {
    QFETCH(QByteArray, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, problem);
    const BridgeConf conf = platform::parseBridgeConf(text);
    QCOMPARE(conf.address ? conf.address->host : QString(), host);
    QCOMPARE(conf.address ? conf.address->port : 0, port);
    QCOMPARE(conf.problem, problem);
}

// Files that are no text file never block or get read whole.
void TestBridge::file_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("problem");
    QTest::newRow("missing") << "missing"
                             << "does not exist";
    QTest::newRow("pipe") << "fifo"
                          << "is not a regular file";
    QTest::newRow("device") << "device"
                            << "is not a regular file";
    QTest::newRow("folder") << "folder"
                            << "is not a regular file";
    QTest::newRow("10 MB") << "huge"
                           << "is too large to be one line HOST:PORT";
    QTest::newRow("good") << "good"
                          << "";
}

void TestBridge::file() {
    QFETCH(QString, kind);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString path = platform::bridgeConfPath(dir.path(), 9);
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QLatin1String("device")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind != QLatin1String("missing")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kind == QLatin1String("huge") ? QByteArray(10'000'000, '1') : QByteArray("lab-pc:3001\n"));
    }
    const BridgeConf conf = platform::readBridgeConf(dir.path(), 9);
    QCOMPARE(conf.problem, problem);
    QCOMPARE(bool(conf.address), problem.isEmpty());
}

// The tooltip and merovask-ctl ports: socat's link beside its file, a bridge that is down (its number kept
// from an adapter seen for the first time), a file that is wrong, names that are no port's, and a
// program-folder link that wins over a bridge of the same number.
void TestBridge::portList() {
    QTemporaryDir config;
    QTemporaryDir program;
    const QString user = config.path() + QStringLiteral("/merovask");
    QVERIFY(QDir().mkpath(user));
    const auto write = [&](const QString& name, const QByteArray& text) {
        QFile file(user + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write(QStringLiteral("bridge9.conf"), "lab-pc:3009\n");
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), user + QStringLiteral("/com9")));
    write(QStringLiteral("bridge3.conf"), "lab-pc:3003\n");
    write(QStringLiteral("bridge12.conf"), "lab-pc\n");
    write(QStringLiteral("bridge7.conf"), "lab-pc:3007\n");
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), program.path() + QStringLiteral("/com7")));
    for (const char* name :
         {"bridge05.conf", "bridge0.conf", "bridge40000.conf", "bridgex.conf", "bridge6.txt"}) {
        write(QString::fromLatin1(name), "lab-pc:1\n");
    }

    const auto hardware = [] {
        return platform::SerialHardware{{{"0403:6001:A1", "/dev/null", "FT232R USB UART", "1-2:1.0"}}, {}};
    };
    const QString list = texts::portList(platform::listPorts({program.path(), user}, hardware));
    QCOMPARE(list.split(QLatin1Char('\n')), QStringList({
                                                "3  network bridge to lab-pc:3003 (not connected)",
                                                "4  FT232R USB UART (null)",
                                                "7  link in the program folder (null)",
                                                "9  network bridge to lab-pc:3009 (null)",
                                                "12  network bridge, bridge12.conf holds \"lab-pc\", not "
                                                "HOST:PORT (not connected)",
                                            }));
}

QTEST_GUILESS_MAIN(TestBridge)
#include "tst_bridge.moc"
