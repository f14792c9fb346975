// SPDX-License-Identifier: MIT
// The simulated device: the model's replies, the framing of the byte stream, the tests' virtual device
// against a real QSerialPort, and the merovask-sim program itself on a pseudo-terminal.

#include "sim/device.h"
#include "support/ptydevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::PtyDevice;

namespace {

// Wire rules of a reply: 1..21 printable bytes whose one and only space is the last.
void checkForm(const QByteArray& reply) {
    QVERIFY2(reply.size() >= 2 && reply.size() <= sim::kMaxReply, reply.constData());
    QCOMPARE(reply.back(), ' ');
    QCOMPARE(reply.count(' '), 1);
    for (const char c : reply)
        QVERIFY2(c >= ' ' && c <= '~', reply.toHex().constData());
}

QByteArray runAll(sim::Device& device, const QByteArrayList& commands) {
    QByteArray last;
    for (const QByteArray& c : commands)
        last = device.answer(c);
    return last;
}

// Reads from the port until `expected` bytes came or the time is up.
QByteArray readBytes(QSerialPort& port, qsizetype expected, int timeoutMs = 3000, int* reads = nullptr) {
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < expected && t.elapsed() < timeoutMs) {
        if (port.bytesAvailable() == 0 && !port.waitForReadyRead(50))
            continue;
        const QByteArray chunk = port.readAll();
        if (!chunk.isEmpty() && reads)
            ++*reads;
        got += chunk;
    }
    return got;
}

bool openPort(QSerialPort& port, const QString& path) {
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.setBaudRate(9600);
    port.clear();
    return true;
}

QString simPath() {
#ifdef MEROVASK_SIM_PATH
    return QStringLiteral(MEROVASK_SIM_PATH);
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../merovask-sim");
#endif
}

// What the simulator's --log says after `kind` (" rx " or " tx ") on each such line, in order.
QByteArrayList logLines(const QString& path, const QByteArray& kind) {
    QFile file(path);
    QByteArrayList out;
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype at = line.indexOf(kind);
        if (at >= 0)
            out << line.mid(at + kind.size());
    }
    return out;
}

bool waitForPath(const QString& path, bool exists, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (QFileInfo(path).isSymLink() != exists) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace

class TstSimDevice : public QObject {
    Q_OBJECT

  private slots:
    void replies_data();
    void replies();
    void extremeRange();
    void rangeFollowsTable();
    void table();
    void framing_data();
    void framing();
    void floodStaysBounded();
    void feedAnswersEachTerminator();

    void ptyDeviceAnswersScript();
    void ptyDeviceBytewise();
    void ptyDeviceSilentAndInject();
    void ptyDeviceSurvivesPortReopen();
    void ptyDeviceHangUpAndReopen();
    void ptyDeviceSync();
    void ptyDeviceWaitTimesOut();

    void simAnswersLogsAndStops();
    void simVanishes();
    void simDelayBytewiseSilent();
    void simRejectsBadStart_data();
    void simRejectsBadStart();

  private:
    // Starts merovask-sim with a link com<port> in dir; skips when the program is not built.
    bool startSim(QProcess& p, const QString& dir, int port, const QStringList& extra);
};

void TstSimDevice::replies_data() {
    QTest::addColumn<QByteArrayList>("before");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray er = sim::kError;
    auto row = [](const char* name, QByteArrayList before, const QByteArray& c, const QByteArray& r) {
        QTest::newRow(name) << before << c << r;
    };
    row("tune", {}, "C1550", "WL1550 ");
    row("tune lower case", {}, "c1520", "WL1520 ");
    row("tune above range", {}, "C1600", "WL1589 ");
    row("tune below range", {}, "C-5", "WL1510 ");
    row("tune largest", {}, "C2147483647", "WL1589 ");
    row("tune smallest", {}, "C-2147483648", "WL1510 ");
    row("tune leading zeros", {}, "C01560", "WL1560 ");
    row("increase", {}, "I5", "WL1555 ");
    row("increase past end", {"C1585"}, "I30", "WL1589 ");
    row("negative increase", {}, "I-5", "WL1545 ");
    row("decrease", {}, "D10", "WL1540 ");
    row("decrease past start", {"C1515"}, "D30", "WL1510 ");
    row("go one step", {"z"}, "g1", "P1 ");
    row("count", {"C1560"}, "g0", "P50 ");
    row("reverse", {"C1560"}, "r5", "P45 ");
    row("reverse past home", {"z"}, "r1", "P0 ");
    row("one circle stops at end", {}, "G17573", "P79 ");
    row("home", {"C1570"}, "z", "P0 ");
    row("home then wavelength", {"C1570", "z"}, "p", "Q1510 ");
    row("scan start limited", {}, "L1500", "L1510 ");
    row("scan start", {}, "L1520", "L1520 ");
    row("scan end limited", {}, "H1600", "H1589 ");
    row("stay below", {}, "T0", "ST1 ");
    row("stay above", {}, "T301", "ST300 ");
    row("stay", {}, "T50", "ST50 ");
    row("span above", {}, "S31", "SP30 ");
    row("span below", {}, "S0", "SP1 ");
    row("span lower case", {}, "s3", "SP3 ");
    row("calibration", {}, "Z", "ZOK ");
    row("version", {}, "v", sim::kVersion);
    row("quick", {"C1530"}, "p", "Q1530 ");
    row("channel 1", {}, "A", "T1 ");
    row("channel 2", {}, "B", "T2 ");
    row("channel 3 not a wavelength", {}, "C", "T3 ");
    row("channel 4 not a decrease", {}, "D", "T4 ");
    row("factory year", {}, "W103", "2024 ");
    row("factory month and day", {}, "W104", "0305 ");
    row("factory hour and minute", {}, "W105", "0907 ");
    row("factory min", {}, "W101", "1510 ");
    row("factory max", {}, "W102", "1589 ");
    row("select slot", {}, "X299", "X299 ");
    row("store negative", {"X5"}, "Y-3", "Y-3 ");
    row("read negative", {"X5", "Y-3"}, "W5", "-3 ");
    row("store date keeps zeros", {"X104"}, "Y0305", "Y0305 ");
    row("read date keeps zeros", {"X105", "Y7"}, "W105", "0007 ");
    row("read stored 16-bit max", {"X0", "Y32767"}, "W0", "32767 ");
    row("never written slot", {}, "W200", "0 ");
    row("second Y same slot", {"X9", "Y1"}, "Y2", "Y2 ");
    row("slot past memory", {}, "X300", er);
    row("negative slot", {}, "X-1", er);
    row("Y without X", {}, "Y5", er);
    row("Y after refused X", {"X5", "X300"}, "Y5", er);
    row("refused X leaves old slot", {"X5", "Y1", "X400", "Y9"}, "W5", "1 ");
    row("read past memory", {}, "W300", er);
    row("empty", {}, "", er);
    row("blanks only", {}, " \r\n", er);
    row("console word get", {}, "get", er);
    row("lower case W", {}, "w103", er);
    row("blank inside", {}, "C 1550", er);
    row("trailing letter", {}, "C1550x", er);
    row("plus sign", {}, "C+5", er);
    row("sign only", {}, "C-", er);
    row("argument past 32 bits", {}, "C2147483648", er);
    row("argument far past 32 bits", {}, "C99999999999999999999999", er);
    row("argument to Z", {}, "Z1", er);
    row("argument to v", {}, "v2", er);
    row("unknown letter", {}, "E", er);
    row("lower case channel", {}, "a", er);
    row("W without slot", {}, "W", er);
    row("I without steps", {}, "I", er);
    row("two letters", {}, "ZZ", er);
    row("binary", {}, QByteArray("\x01\xff", 2), er);
    row("NUL inside", {},
        QByteArray("C15\x00"
                   "50",
                   5),
        er);
    row("leading blank", {}, " C1550", "WL1550 ");
    row("CR LF after", {}, "C1560\r\n", "WL1560 ");
    row("CR LF before", {}, "\r\nZ", "ZOK ");
    row("tabs around", {}, "\t v \t", sim::kVersion);
}

void TstSimDevice::replies() {
    QFETCH(QByteArrayList, before);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    sim::Device device;
    for (const QByteArray& b : before)
        checkForm(device.answer(b));
    const QByteArray got = device.answer(command);
    QCOMPARE(got, reply);
    checkForm(got);
}

void TstSimDevice::extremeRange() {
    // A table may store any 32-bit range; no reply may grow past the wire limit or overflow.
    sim::Device device;
    runAll(device, {"X101", "Y-2147483648", "X102", "Y2147483647"});
    QCOMPARE(device.rangeMin(), INT32_MIN);
    QCOMPARE(device.rangeMax(), INT32_MAX);
    const QByteArrayList commands = {"C2147483647",  "g0",           "I2147483647", "D2147483647",
                                     "D2147483647",  "D2147483647",  "r1",          "z",
                                     "G2147483647",  "G2147483647",  "g2147483647", "p",
                                     "L-2147483648", "H2147483647",  "W101",        "W102",
                                     "X103",         "Y-2147483648", "W103"};
    QByteArrayList replies;
    for (const QByteArray& c : commands) {
        replies << device.answer(c);
        checkForm(replies.back());
    }
    QCOMPARE(replies[1], QByteArray("P4294967295 "));
    QCOMPARE(replies[5], QByteArray("WL-2147483648 "));
    QCOMPARE(replies[10], QByteArray("P4294967295 "));
    QCOMPARE(replies[11], QByteArray("Q2147483647 "));
    QCOMPARE(replies.back(), QByteArray("-2147483648 "));
}

void TstSimDevice::rangeFollowsTable() {
    sim::Device device;
    // Only the minimum stored so far: the old maximum still holds.
    QCOMPARE(runAll(device, {"X101", "Y1480", "C1490"}), QByteArray("WL1490 "));
    QCOMPARE(device.answer("C1600"), QByteArray("WL1589 "));
    // A minimum above the present maximum is no range yet; the old one stays until the maximum comes.
    QCOMPARE(runAll(device, {"X101", "Y1600", "C1595"}), QByteArray("WL1589 "));
    QCOMPARE(runAll(device, {"X102", "Y1700", "C1650"}), QByteArray("WL1650 "));
    QCOMPARE(device.rangeMin(), 1600);
    // Narrowing the range pulls the wavelength and the scan limits inside it.
    runAll(device, {"L1690", "X102", "Y1620"});
    QCOMPARE(device.wavelength(), 1620);
    QCOMPARE(device.scanStart(), 1620);
    QCOMPARE(device.answer("z"), QByteArray("P0 "));
    QCOMPARE(device.answer("g5"), QByteArray("P5 "));
    QCOMPARE(device.answer("p"), QByteArray("Q1605 "));
}

void TstSimDevice::table() {
    sim::Device device;
    runAll(device, {"X5", "Y-3", "X104", "Y0305", "X105", "Y1407", "X0", "Y12"});
    QCOMPARE(device.tableText(),
             QByteArray("0 12\n5 -3\n101 1510\n102 1589\n103 2024\n104 0305\n105 1407\n"));
}

void TstSimDevice::framing_data() {
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("frames"); // "!" marks an overflowed command
    QTest::addColumn<int>("pending");

    const QByteArray k1000(sim::kMaxCommand, 'k');
    const QByteArray k600(600, 'k');
    QTest::newRow("two in one chunk") << QByteArrayList{"C1550,Z,"} << QByteArrayList{"C1550", "Z"} << 0;
    QTest::newRow("split over chunks") << QByteArrayList{"C15", "50", ",v"} << QByteArrayList{"C1550"} << 1;
    QTest::newRow("no terminator") << QByteArrayList{"C1550"} << QByteArrayList{} << 5;
    QTest::newRow("empty commands") << QByteArrayList{",,"} << QByteArrayList{"", ""} << 0;
    QTest::newRow("longest kept") << QByteArrayList{k1000 + ","} << QByteArrayList{k1000} << 0;
    QTest::newRow("one byte too long") << QByteArrayList{k1000 + "k,Z,"} << QByteArrayList{"!", "Z"} << 0;
    QTest::newRow("too long over chunks")
        << QByteArrayList{k600, k600, k600, ",v,"} << QByteArrayList{"!", "v"} << 0;
    QTest::newRow("too long unfinished") << QByteArrayList{k600, k600} << QByteArrayList{} << 0;
}

void TstSimDevice::framing() {
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArrayList, frames);
    QFETCH(int, pending);
    sim::CommandFramer framer;
    QByteArrayList got;
    for (const QByteArray& c : chunks)
        for (const auto& f : framer.feed(c))
            got << (f.overflow ? QByteArray("!") : f.text);
    QCOMPARE(got, frames);
    QCOMPARE(framer.pending(), qsizetype(pending));
}

void TstSimDevice::floodStaysBounded() {
    sim::Device device;
    // Eight megabytes without a terminator: the held part never passes the command limit.
    sim::CommandFramer framer;
    const QByteArray block(64 * 1024, 'x');
    for (int i = 0; i < 128; ++i) {
        QVERIFY(framer.feed(block).empty());
        QVERIFY(framer.pending() <= sim::kMaxCommand);
    }
    const auto frames = framer.feed(",");
    QCOMPARE(frames.size(), std::size_t(1));
    QCOMPARE(device.answer(frames[0]), sim::kError);

    // Random binary with terminators: one well-formed reply per terminator, and the device still works.
    QRandomGenerator rng(20240305);
    QByteArray noise(1 << 20, '\0');
    for (char& c : noise)
        c = static_cast<char>(rng.bounded(256));
    const auto replies = device.feed(noise);
    QCOMPARE(qsizetype(replies.size()), noise.count(','));
    for (const QByteArray& r : replies)
        checkForm(r);
    const auto after = device.feed(",v,");
    QCOMPARE(after.back(), sim::kVersion);
}

void TstSimDevice::feedAnswersEachTerminator() {
    sim::Device device;
    auto r = device.feed("C1600,A,v");
    QCOMPARE(r, (std::vector<QByteArray>{"WL1589 ", "T1 "}));
    r = device.feed(",");
    QCOMPARE(r, (std::vector<QByteArray>{sim::kVersion}));
    QCOMPARE(device.channel(), 1);
    QCOMPARE(device.wavelength(), 1589);
}

// ---- the tests' virtual device, seen through a real serial port ----

void TstSimDevice::ptyDeviceAnswersScript() {
    QTemporaryDir dir;
    PtyDevice dev(dir.path(), 7);
    QVERIFY(dev.ok());
    QCOMPARE(dev.linkPath(), dir.path() + "/com7");
    QCOMPARE(QFileInfo(dev.linkPath()).symLinkTarget(), dev.slavePath());

    QSerialPort port;
    QVERIFY2(openPort(port, dev.linkPath()), qPrintable(port.errorString()));
    port.write("C1550,");
    QVERIFY(dev.waitForCommands(1));
    QCOMPARE(readBytes(port, 3), QByteArray("OK "));

    dev.setScript([](const QByteArray& c) { return "R" + c + " "; });
    port.write("Z,W103,");
    QVERIFY(dev.waitForCommands(3));
    QCOMPARE(readBytes(port, 9), QByteArray("RZ RW103 "));

    const auto cmds = dev.commands();
    QCOMPARE(cmds.size(), std::size_t(3));
    QCOMPARE(cmds[0].text, QByteArray("C1550"));
    QCOMPARE(cmds[2].text, QByteArray("W103"));
    QVERIFY(cmds[0].at <= cmds[1].at);
    QCOMPARE(dev.received(), QByteArray("C1550,Z,W103,"));
    QCOMPARE(dev.byteTimes().size(), std::size_t(13));

    dev.clear();
    QVERIFY(dev.commands().empty());
    QVERIFY(dev.received().isEmpty());
    QVERIFY(dev.byteTimes().empty());
}

void TstSimDevice::ptyDeviceBytewise() {
    QTemporaryDir dir;
    PtyDevice dev(dir.path(), 2);
    dev.setMode(PtyDevice::Mode::Bytewise);
    dev.setScript([](const QByteArray&) { return QByteArray("0123456789 "); });
    QSerialPort port;
    QVERIFY(openPort(port, dev.linkPath()));
    port.write("v,");
    int reads = 0;
    QCOMPARE(readBytes(port, 11, 3000, &reads), QByteArray("0123456789 "));
    // Eleven bytes a millisecond apart cannot all land in one read.
    QVERIFY2(reads >= 2, QByteArray::number(reads).constData());
}

void TstSimDevice::ptyDeviceSilentAndInject() {
    QTemporaryDir dir;
    PtyDevice dev(dir.path(), 3);
    dev.setMode(PtyDevice::Mode::Silent);
    QSerialPort port;
    QVERIFY(openPort(port, dev.linkPath()));
    port.write("C1550,");
    QVERIFY(port.waitForBytesWritten(1000));
    QVERIFY(dev.sync());
    QCOMPARE(dev.commands().size(), std::size_t(1));

    // An answer to C1550 would have gone out before these bytes and would be read with them.
    dev.inject("T2 ");
    QCOMPARE(readBytes(port, 3), QByteArray("T2 "));
    dev.injectBytewise("abc ");
    QCOMPARE(readBytes(port, 4), QByteArray("abc "));
}

void TstSimDevice::ptyDeviceSurvivesPortReopen() {
    // The panel closes and reopens its port at will; the device behind the link must stay answerable.
    QTemporaryDir dir;
    PtyDevice dev(dir.path(), 4);
    for (int round = 0; round < 3; ++round) {
        QSerialPort port;
        QVERIFY(openPort(port, dev.linkPath()));
        port.write("v,");
        QVERIFY(dev.waitForCommands(std::size_t(round + 1)));
        QCOMPARE(readBytes(port, 3), QByteArray("OK "));
        port.close();
    }
}

void TstSimDevice::ptyDeviceHangUpAndReopen() {
    QTemporaryDir dir;
    PtyDevice dev(dir.path(), 5);
    const QString link = dev.linkPath();
    const QString firstSlave = dev.slavePath();
    QSerialPort port;
    QVERIFY(openPort(port, link));

    dev.hangUp();
    QVERIFY(!dev.ok());
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(firstSlave)); // the node went away with the line, as an unplugged adapter
    dev.inject("lost ");                     // nothing to write to: ignored
    port.close();
    QSerialPort refused;
    refused.setPortName(link);
    QVERIFY(!refused.open(QIODevice::ReadWrite));

    dev.reopen();
    QVERIFY(dev.ok());
    QCOMPARE(dev.linkPath(), link);
    QCOMPARE(QFileInfo(link).symLinkTarget(), dev.slavePath());
    QVERIFY(openPort(port, link));
    port.write("Z,");
    QVERIFY(dev.waitForCommands(1));
    QCOMPARE(readBytes(port, 3), QByteArray("OK "));
}

// sync() returns once what the other side wrote has arrived, and its answers have gone out; its mark is
// never recorded.
void TstSimDevice::ptyDeviceSync() {
    QTemporaryDir dir;
    PtyDevice dev(dir.path(), 8);
    QVERIFY(dev.sync()); // nobody has the port open yet
    dev.setScript([](const QByteArray& c) { return "R" + c + " "; });
    QSerialPort port;
    QVERIFY(openPort(port, dev.linkPath()));
    for (int round = 0; round < 50; ++round) {
        dev.clear();
        port.write("a,b,c");
        QVERIFY(port.flush());
        QVERIFY(dev.sync());
        QCOMPARE(dev.received(), QByteArray("a,b,c"));
        QCOMPARE(dev.byteTimes().size(), std::size_t(5));
        QCOMPARE(dev.commands().size(), std::size_t(2));
        port.write(",");
        QVERIFY(port.flush());
        QVERIFY(dev.sync());
        QCOMPARE(dev.commands().back().text, QByteArray("c"));
        dev.inject("X ");
        QCOMPARE(readBytes(port, 11), QByteArray("Ra Rb Rc X "));
    }
    port.close();
    QVERIFY(dev.sync());
    dev.hangUp();
    QVERIFY(!dev.sync(200));
}

void TstSimDevice::ptyDeviceWaitTimesOut() {
    QTemporaryDir dir;
    PtyDevice dev(dir.path(), 6);
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    QElapsedTimer t;
    t.start();
    QVERIFY(!dev.waitForCommands(1, 200));
    QVERIFY(t.elapsed() >= 200);
    QVERIFY(fired); // the caller's events ran during the wait

    t.restart();
    PtyDevice::pump(100);
    QVERIFY(t.elapsed() >= 100);
}

// ---- merovask-sim, the program ----

bool TstSimDevice::startSim(QProcess& p, const QString& dir, int port, const QStringList& extra) {
    p.setProgram(simPath());
    p.setArguments(QStringList{"--port", QString::number(port), "--dir", dir} + extra);
    p.start();
    return p.waitForStarted(5000) && waitForPath(dir + "/com" + QString::number(port), true);
}

void TstSimDevice::simAnswersLogsAndStops() {
    if (!QFileInfo::exists(simPath()))
        QSKIP("merovask-sim is not built");
    QTemporaryDir dir;
    const QString log = dir.filePath("sim.log");
    const QString table = dir.filePath("table.txt");
    QProcess sim;
    QVERIFY(startSim(sim, dir.path(), 8, {"--log", log, "--table", table}));
    const QString link = dir.filePath("com8");

    QSerialPort port;
    QVERIFY(openPort(port, link));
    port.write("C1600,X7,Y-3,");
    QCOMPARE(readBytes(port, 14), QByteArray("WL1589 X7 Y-3 "));
    // Closing and reopening the port must not disturb the device or lose its state.
    port.close();
    QVERIFY(openPort(port, link));
    port.write("W7,B,p,");
    QCOMPARE(readBytes(port, 12), QByteArray("-3 T2 Q1589 "));

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());

    QFile t(table);
    QVERIFY(t.open(QIODevice::ReadOnly));
    QCOMPARE(t.readAll(), QByteArray("7 -3\n101 1510\n102 1589\n103 2024\n104 0305\n105 0907\n"));

    QFile l(log);
    QVERIFY(l.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = l.readAll().split('\n');
    QByteArray rx;
    QByteArray tx;
    static const QRegularExpression form(QStringLiteral("^\\d+\\.\\d{3} (rx|tx|ev) (.*)$"));
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const auto m = form.match(QString::fromLatin1(line));
        QVERIFY2(m.hasMatch(), line.constData());
        const QString payload = m.captured(2);
        if (m.captured(1) == "rx")
            rx += payload.mid(1, payload.size() - 2).toLatin1();
        else if (m.captured(1) == "tx")
            tx += payload.mid(1, payload.size() - 2).toLatin1();
    }
    QCOMPARE(rx, QByteArray("C1600,X7,Y-3,W7,B,p,"));
    QCOMPARE(tx, QByteArray("WL1589 X7 Y-3 -3 T2 Q1589 "));
}

void TstSimDevice::simVanishes() {
    if (!QFileInfo::exists(simPath()))
        QSKIP("merovask-sim is not built");
    QTemporaryDir dir;
    QProcess sim;
    QVERIFY(startSim(sim, dir.path(), 9, {"--vanish-after", "2"}));
    QSerialPort port;
    QVERIFY(openPort(port, dir.filePath("com9")));
    port.write("v,");
    QCOMPARE(readBytes(port, 6), sim::kVersion);
    port.write("A,B,");
    QCOMPARE(readBytes(port, 3), QByteArray("T1 ")); // the last answer before the line goes
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(dir.filePath("com9")).isSymLink());
}

void TstSimDevice::simDelayBytewiseSilent() {
    if (!QFileInfo::exists(simPath()))
        QSKIP("merovask-sim is not built");
    QTemporaryDir dir;
    // The log shows each write of the simulator: a reader that is late takes several bytes in one read.
    const QString slowLog = dir.filePath(QStringLiteral("slow.log"));
    QProcess slow;
    QVERIFY(startSim(slow, dir.path(), 10, {"--delay", "200", "--bytewise", "--log", slowLog}));
    QSerialPort port;
    QVERIFY(openPort(port, dir.filePath("com10")));
    QElapsedTimer t;
    t.start();
    port.write("C1555,");
    QVERIFY(port.waitForReadyRead(3000));
    QVERIFY2(t.elapsed() >= 190, QByteArray::number(t.elapsed()).constData());
    QByteArray got = port.readAll();
    got += readBytes(port, 7 - got.size());
    QCOMPARE(got, QByteArray("WL1555 "));
    QTRY_COMPARE(logLines(slowLog, " tx "),
                 (QByteArrayList{"'W'", "'L'", "'1'", "'5'", "'5'", "'5'", "' '"}));
    port.close();
    slow.terminate();
    QVERIFY(slow.waitForFinished(5000));

    // Nothing comes back: once the simulator has read a second command, it has dealt with the first.
    const QString muteLog = dir.filePath(QStringLiteral("mute.log"));
    QProcess mute;
    QVERIFY(startSim(mute, dir.path(), 11, {"--silent", "--log", muteLog}));
    QVERIFY(openPort(port, dir.filePath("com11")));
    port.write("v,");
    QTRY_COMPARE(logLines(muteLog, " rx "), QByteArrayList{"'v,'"});
    port.write("w,");
    QTRY_COMPARE(logLines(muteLog, " rx "), (QByteArrayList{"'v,'", "'w,'"}));
    QCOMPARE(logLines(muteLog, " tx "), QByteArrayList{});
    QCOMPARE(port.bytesAvailable(), qint64(0));
    mute.terminate();
    QVERIFY(mute.waitForFinished(5000));
    QVERIFY(!QFileInfo(dir.filePath("com11")).isSymLink());
}

void TstSimDevice::simRejectsBadStart_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("port 0") << QStringList{"--port", "0"};
    QTest::newRow("port not a number") << QStringList{"--port", "x"};
    QTest::newRow("negative delay") << QStringList{"--port", "12", "--delay", "-1"};
    QTest::newRow("vanish after 0") << QStringList{"--port", "12", "--vanish-after", "0"};
    QTest::newRow("unknown option") << QStringList{"--port", "12", "--bogus"};
    QTest::newRow("file in the way") << QStringList{"--port", "13"};
    QTest::newRow("missing folder") << QStringList{"--port", "12", "--dir", "/nonexistent/merovask"};
}

void TstSimDevice::simRejectsBadStart() {
    if (!QFileInfo::exists(simPath()))
        QSKIP("merovask-sim is not built");
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    QFile blocker(dir.filePath("com13"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.write("keep me");
    blocker.close();

    QProcess sim;
    sim.setProgram(simPath());
    sim.setArguments(QStringList{"--dir", dir.path()} + args);
    sim.start();
    QVERIFY(sim.waitForFinished(5000));
    QVERIFY(sim.exitCode() != 0);
    QVERIFY(!sim.readAllStandardError().isEmpty());
    QVERIFY(!QFileInfo(dir.filePath("com12")).isSymLink());
    QVERIFY(!QFileInfo(dir.filePath("com0")).isSymLink());
    QVERIFY(blocker.open(QIODevice::ReadOnly));
    QCOMPARE(blocker.readAll(), QByteArray("keep me"));
}

QTEST_GUILESS_MAIN(TstSimDevice)
#include "tst_simdevice.moc"
