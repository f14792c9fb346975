// SPDX-License-Identifier: MIT
// merovask-scpi as clients reach it, over loopback: the program in a folder of its own with merovask-sim
// linked there as com1, the bytes at the device read from the simulator's log. Each command's bytes, answer
// and errors; clients whose operations never mix; a device that goes away and comes back; floods, long
// lines, half-closed and idle connections; the allow list; the calibration upload, also under SIGTERM.

#include "harness.h"

#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

using namespace scpitest;

class TestScpiServer : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void commands_data();
    void commands();
    void clientsNeverMix();
    void rudeClients();
    void allowList();
    void portGoneAndBack();
    void upload();

  private:
    Bench bench_;
};

void TestScpiServer::initTestCase() {
    QVERIFY(bench_.startSim());
    QVERIFY(bench_.startServer({"--port", "1", "--engineering"}));
}

void TestScpiServer::cleanupTestCase() {
    bench_.server.terminate();
    bench_.server.waitForFinished(kWaitMs);
    bench_.stopSim();
}

void TestScpiServer::commands_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArrayList>("device"); // commands at the device, without their ","
    QTest::addColumn<QList<int>>("gaps");       // ms at least between them, when given
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArrayList>("errors");
    const auto row = [](const char* name, const QByteArray& message, const QByteArrayList& device,
                        const QByteArray& answer = {}, const QByteArrayList& errors = {},
                        const QList<int>& gaps = {}) {
        QTest::newRow(name) << message << device << gaps << answer << errors;
    };
    row("identification", "*IDN?", {}, "Merovask,Tunable Filter,0," MEROVASK_VERSION);
    row("version", "SYST:VERS?", {}, "1999.0");
    row("tune", "WAV 1550", {"C1550"});
    row("long form, units, read back", "wavelength 1.55E-6M;WAV?", {"C1550"}, "1550");
    row("limited", "WAV 1600NM;WAV?", {"C1589"}, "1589",
        {"-222,\"Data out of range;WAV 1600NM sent as 1589\""});
    row("beyond 32 bits", "WAV 1E30", {"C1589"}, {}, {"-222,\"Data out of range;WAV 1E30 sent as 1589\""});
    row("half a nanometre to the even one", "WAV 1551.5;WAV?", {"C1552"}, "1552");
    row("frequency to the nearest nanometre", "FREQ 193.4THZ;FREQ?", {"C1550"}, "193.414489");
    row("frequency limited", "FREQ 200000GHZ", {"C1510"}, {},
        {"-222,\"Data out of range;FREQ 200000GHZ sent as 198.5380517 (1510 nm)\""});
    row("limits in force", "WAV? MIN;WAV? MAX;WAV? DEF;:FREQ? MIN", {}, "1510;1589;1550;188.6673744");
    row("minimum", "WAV MIN", {"C1510"});
    row("steps", "WAV:STEP 5;:WAV UP;WAV DOWN", {"I5", "D5"});
    row("steps limited, kept", "WAV:STEP 45;STEP?;:WAV DOWN", {"D30"}, "30",
        {"-222,\"Data out of range;WAV:STEP 45 kept as 30\""});
    row("reset", "WAV:STEP 7;*RST;:WAV:STEP?;:WAV:SWE:STAR?;STOP?;DWEL?;STEP?", {}, "1;1510;1589;0.1;4");
    row("scan", "WAV:SWE:STAR 1520;STOP 1560;DWEL 500MS;STEP 3;:WAV:SWE", {"L1520", "H1560", "T5", "S3"}, {},
        {}, {500, 500, 0});
    row("dwell limited", "WAV:SWE:DWEL 45;DWEL?", {}, "30",
        {"-222,\"Data out of range;WAV:SWE:DWEL 45 kept as 30\""});
    row("switch", "ROUT 3;ROUT?", {"C"}, "3");
    row("no such output", "ROUT 5", {}, {},
        {"-222,\"Data out of range;ROUT 5: the switch has outputs 1 to 4; nothing sent\""});
    row("calibration date", "CAL:DATE?", {"W103", "W104", "W105"}, "2024,3,5,9,7", {}, {50, 50});
    row("self-test", "*TST?", {"v"}, "0");
    row("raw command", "DIAG:SEND? 'v'", {"v"}, "\"V1.00\"");
    row("queries wait for the command before them", "WAV 1530;*OPC?;WAV?", {"C1530"}, "1;1530");
    row("status", "*ESE 32;*ESE?;*OPC;*ESR?;*STB?", {}, "32;1;0");
    row("the rest of a message after a bad header", "WAV 1540;BAD;WAV 1541", {"C1540"}, {},
        {"-113,\"Undefined header;BAD\""});
    row("missing parameter", "WAV", {}, {}, {"-109,\"Missing parameter;WAV\""});
    row("bad suffix", "WAV 15x0", {}, {}, {"-131,\"Invalid suffix\""});
}

// Each message on a connection of its own: what reaches the device, with its pauses, the answer and the
// error queue.
void TestScpiServer::commands() {
    QFETCH(QByteArray, message);
    QFETCH(QByteArrayList, device);
    QFETCH(QList<int>, gaps);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArrayList, errors);
    Client client;
    QVERIFY(client.open(bench_.port));
    bench_.newCommands();
    client.send(message);
    if (!answer.isEmpty()) {
        QCOMPARE(client.line(), answer);
    }
    QCOMPARE(client.ask("*OPC?"), QByteArray("1"));
    QCOMPARE(client.errors(), errors);
    const std::vector<DeviceCommand> got = bench_.newCommands();
    QCOMPARE(texts(got), device);
    for (qsizetype i = 0; i < gaps.size(); ++i) {
        // The simulator notes when it read the bytes, a little late on a busy machine; the benchmark measures
        // the pauses to the microsecond.
        const double gap = got[std::size_t(i) + 1].ms - got[std::size_t(i)].ms;
        QVERIFY2(gap >= gaps[i] - 10 && gap < gaps[i] + 250, qPrintable(QString::number(gap)));
    }
}

// Operations of several clients run one at a time in the order they came: a scan's pauses hold the others'
// commands, a query of an idle client is answered meanwhile, a query behind a command waits for it, and a
// client that leaves does not take back what it sent.
void TestScpiServer::clientsNeverMix() {
    Client scanning, tuning, idle, leaving;
    for (Client* c : {&scanning, &tuning, &idle, &leaving}) {
        QVERIFY(c->open(bench_.port));
    }
    bench_.newCommands();
    scanning.send("WAV:SWE:STAR 1520;STOP 1560;:WAV:SWE;*OPC?");
    QTRY_COMPARE_WITH_TIMEOUT(lastAtDevice(bench_.path("sim.log")), QByteArray("L1520"), kWaitMs);
    tuning.send("WAV 1530;WAV?");
    leaving.send("ROUT 2");
    leaving.socket.waitForBytesWritten(kWaitMs);
    leaving.socket.abort();
    QElapsedTimer took;
    took.start();
    QCOMPARE(idle.ask("*IDN?").left(8), QByteArray("Merovask"));
    // The scan's pauses take a second from its first command on.
    QVERIFY2(took.elapsed() < 800, qPrintable(QString::number(took.elapsed())));

    QCOMPARE(scanning.line(), QByteArray("1"));
    QCOMPARE(tuning.line(), QByteArray("1530"));
    QTRY_COMPARE_WITH_TIMEOUT(lastAtDevice(bench_.path("sim.log")), QByteArray("B"), kWaitMs);
    QCOMPARE(texts(bench_.newCommands()), (QByteArrayList{"L1520", "H1560", "T1", "S4", "C1530", "B"}));
    QTRY_COMPARE_WITH_TIMEOUT(idle.ask("ROUT?"), QByteArray("2"), kWaitMs);
}

// Clients that misbehave leave the others their service: a flood of bytes without a line end, a line longer
// than 4 KiB, a connection half closed after its command, a hundred idle connections.
void TestScpiServer::rudeClients() {
    Client longLine, halfClosed, polite;
    std::vector<std::unique_ptr<Client>> idle(100);
    for (auto& c : idle) {
        c = std::make_unique<Client>();
        QVERIFY(c->open(bench_.port));
    }
    for (Client* c : {&longLine, &halfClosed, &polite}) {
        QVERIFY(c->open(bench_.port));
    }
    bench_.newCommands();
    // Bytes without a line end from a thread of its own, for as long as the others are served; then one
    // message, which is answered.
    std::atomic<bool> flooding{true};
    QByteArray floodAnswer;
    std::thread flooder([&, port = bench_.port] {
        QByteArray junk(1 << 16, '\0');
        for (qsizetype i = 0; i < junk.size(); ++i) {
            const char c = char((i * 7919) % 251 + 1);
            junk[i] = c == '\n' || c == '#' ? 'x' : c;
        }
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const timeval bound{kWaitMs / 1000, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            while (flooding && ::send(fd, junk.constData(), std::size_t(junk.size()), MSG_NOSIGNAL) > 0) {
            }
            ::send(fd, "\n*OPC?\n", 7, MSG_NOSIGNAL);
            char c = 0;
            while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
                floodAnswer += c;
            }
        }
        ::close(fd);
    });
    longLine.send(QByteArray(5000, 'A') + "\n*IDN?");
    halfClosed.send("WAV 1520");
    halfClosed.socket.waitForBytesWritten(kWaitMs);
    ::shutdown(int(halfClosed.socket.socketDescriptor()), SHUT_WR);

    QElapsedTimer took;
    took.start();
    QCOMPARE(polite.ask("*IDN?").left(8), QByteArray("Merovask"));
    QVERIFY2(took.elapsed() < 500, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(longLine.line().left(8), QByteArray("Merovask"));
    QCOMPARE(longLine.errors(), QByteArrayList{"-363,\"Input buffer overrun\""});
    QByteArrayList atDevice;
    QTRY_VERIFY_WITH_TIMEOUT((atDevice << texts(bench_.newCommands())).contains("C1520"), kWaitMs);
    flooding = false;
    flooder.join();
    QCOMPARE(floodAnswer, QByteArray("1"));
    QCOMPARE(idle.back()->ask("*OPC?"), QByteArray("1"));
}

// Clients outside --allow are closed at once; without --engineering its headers are not there.
void TestScpiServer::allowList() {
    Bench other;
    QVERIFY(other.startServer(
        {"--port", "2", "--device", other.path("nothing"), "--allow", "127.0.0.2,127.0.1.0/24"}));
    Client outside, inside;
    QVERIFY(outside.open(other.port));
    QTRY_COMPARE_WITH_TIMEOUT(outside.socket.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QVERIFY(inside.open(other.port, QHostAddress(QStringLiteral("127.0.0.2"))));
    QCOMPARE(inside.ask("*IDN?;DIAG:SEND? 'v'").left(8), QByteArray("Merovask"));
    QCOMPARE(inside.errors(), QByteArrayList{"-113,\"Undefined header;DIAG:SEND?\""});
    QVERIFY(other.log().contains("connection from 127.0.0.1 closed: not in --allow"));
    // No device: the port is tried again every 2 s, and commands fail with the reason.
    QCOMPARE(inside.ask("WAV 1550;*OPC?"), QByteArray("1"));
    QCOMPARE(inside.errors(),
             QByteArrayList{"-240,\"Hardware error;no such port 2; opening it again every 2 s\""});
    other.server.terminate();
    QVERIFY(other.server.waitForFinished(kWaitMs));
    QCOMPARE(other.server.exitCode(), 0);
}

// The device goes away: commands fail at once with -240 and the reason; the server opens the port again
// every 2 s and, once the device is back, serves it without being asked, logging each change.
void TestScpiServer::portGoneAndBack() {
    Client client;
    QVERIFY(client.open(bench_.port));
    bench_.stopSim();
    QTRY_VERIFY_WITH_TIMEOUT(
        bench_.log().contains("port 1 went away (hung up or unplugged); opening it again every 2 s"),
        kWaitMs);
    QCOMPARE(client.ask("WAV 1550;*OPC?"), QByteArray("1"));
    QCOMPARE(
        client.errors(),
        QByteArrayList{
            "-240,\"Hardware error;port 1 went away (hung up or unplugged); opening it again every 2 s\""});

    const qsizetype before = bench_.log().count("is open and the filter is ready");
    QVERIFY(bench_.startSim());
    QTRY_COMPARE_WITH_TIMEOUT(bench_.log().count("is open and the filter is ready"), before + 1, 2 * kWaitMs);
    QCOMPARE(client.ask("WAV 1545;*OPC?"), QByteArray("1"));
    QCOMPARE(client.errors(), QByteArrayList{});
    QCOMPARE(texts(bench_.newCommands()), QByteArrayList{"C1545"});
}

// The calibration table as a block: the panel's upload with its checks, the range stored; a table the
// reader refuses sends nothing. SIGTERM in the middle of an upload lets it end whole, and the server exits 0.
void TestScpiServer::upload() {
    Client client;
    QVERIFY(client.open(bench_.port));
    bench_.newCommands();
    const QByteArray table = block(QStringLiteral(MEROVASK_TEST_DATA "/../e2e/table10.txt"));
    QCOMPARE(client.ask("CAL:DATA " + table + ";*OPC?"), QByteArray("1"));
    QCOMPARE(client.errors(), QByteArrayList{});
    const QByteArrayList sent = texts(bench_.newCommands());
    QCOMPARE(sent.size(), 30);
    QCOMPARE(sent.mid(0, 4), (QByteArrayList{"X0", "Y2345", "X1", "Y2200"}));
    QCOMPARE(sent.mid(20, 4), (QByteArrayList{"X101", "Y1510", "X102", "Y1589"}));
    QTRY_VERIFY_WITH_TIMEOUT(bench_.log().contains("calibration table of 10 rows (1510 to 1589) loaded"),
                             kWaitMs);
    QFile ini(bench_.path("merovask.ini"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(ini.readAll().contains("SWmax=1589"));

    QCOMPARE(client.ask("CAL:DATA " + block(QStringLiteral(MEROVASK_TEST_DATA "/cal_rows9.txt")) + ";*OPC?"),
             QByteArray("1"));
    const QByteArrayList refused = client.errors();
    QCOMPARE(refused.size(), 1);
    QVERIFY2(refused[0].startsWith("-224,\"Illegal parameter value;"), refused[0]);
    QCOMPARE(texts(bench_.newCommands()), QByteArrayList{});

    client.send("CAL:DATA " + table);
    QTRY_VERIFY_WITH_TIMEOUT(deviceCommands(bench_.path("sim.log")).size() >= bench_.seen + 5, kWaitMs);
    bench_.server.terminate();
    QVERIFY(bench_.server.waitForFinished(kWaitMs));
    QCOMPARE(bench_.server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(bench_.server.exitCode(), 0);
    const QByteArrayList whole = texts(bench_.newCommands());
    QCOMPARE(whole.size(), 30);
    QVERIFY(whole.last().startsWith('Y'));
}

QTEST_MAIN(TestScpiServer)
#include "tst_scpiserver.moc"
