// SPDX-License-Identifier: MIT
// The console, the transmitter, the wait and the receiver of the real window, with a pseudo-terminal device
// on the other end of the line.

#include "support/panel.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <sys/resource.h>
#include <thread>

using testsupport::Panel;
using testsupport::PtyDevice;
using Chunks = QList<QByteArray>;
Q_DECLARE_METATYPE(Chunks)

namespace {

const QString kNoResponse = QStringLiteral("no response form device");
const QString kPleaseOpen = QStringLiteral("please open comm port");

// Runs the event loop until pred holds; false on timeout. Short steps, so that a thousand round trips stay
// quick.
template <typename Pred> bool waitUntil(Pred pred, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents();
        QThread::usleep(200);
    }
    return true;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Starts the panel with its port open and forgets what start-up did on the line.
void startOpen(Panel& p) {
    QVERIFY(p.device->ok());
    p.start();
    QVERIFY(serialLine(p.w).portOpen());
    p.device->clear();
}

void send(Panel& p, const QString& text) {
    ui(p.w).TxtCom->setText(text);
    p.w->CmdSend_Click();
}

} // namespace

class tst_console : public QObject {
    Q_OBJECT

    QTemporaryDir workDir_; // the working directory, where debug mode's reply log goes
    QString savedDir_;

  private slots:
    void initTestCase();
    void cleanupTestCase();

    void typedCommandBytes_data();
    void typedCommandBytes();
    void getSendsThreeQueries();
    void closedPortWarnsThreeTimes();
    void replies_data();
    void replies();
    void repliesWithinTheSecond();
    void noReply_data();
    void noReply();
    void replyLog_data();
    void replyLog();
    void unwritableLogCostsOnlyTheLog();
    void replyListBound();
    void helpLinePick_data();
    void helpLinePick();
    void historyDoubleClick();
    void replyListDoubleClick();
    void clickInsideWait();
    void delayZero();
    void delayDoesNotBurnCpu();
    void replyFlood();
};

void tst_console::initTestCase() {
    QVERIFY(workDir_.isValid());
    savedDir_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir_.path()));
}

void tst_console::cleanupTestCase() {
    QDir::setCurrent(savedDir_);
}

void tst_console::typedCommandBytes_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("trailing blank kept") << "v " << QByteArray("v ,");
}

void tst_console::typedCommandBytes() {
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    Panel p;
    startOpen(p);
    p.device->setMode(PtyDevice::Mode::Silent);
    p.boxes.allow(kNoResponse);

    send(p, typed);
    QCOMPARE(serialLine(p.w).lastCmd(), typed);
    QVERIFY(serialLine(p.w).replyText().isEmpty());
    QVERIFY(serialLine(p.w).timeoutArmed());
    QVERIFY(p.device->sync());
    QCOMPARE(p.device->received(), wire);
    QCOMPARE(ui(p.w).TxtCom->text(), typed);
}

void tst_console::getSendsThreeQueries() {
    Panel p;
    startOpen(p);
    p.device->setMode(PtyDevice::Mode::Silent);

    send(p, QStringLiteral("get"));
    // A silent device draws no time-out message on this road: the time-out is not even armed, so no tick
    // can come to show one.
    QVERIFY(!serialLine(p.w).timeoutArmed());
    QVERIFY(p.device->sync());
    // The pauses between them are timed where they are made, on the line itself (tst_line).
    QCOMPARE(p.device->received(), QByteArray("W103,W104,W105,"));
    VERIFY_BOXES(p.boxes);
    QCOMPARE(serialLine(p.w).lastCmd(), QStringLiteral("get"));
}

void tst_console::closedPortWarnsThreeTimes() {
    Panel p;
    startOpen(p);
    p.w->Command1_Click();
    QVERIFY(!serialLine(p.w).portOpen());
    QCOMPARE(p.replies().last(), QStringLiteral("close successfully"));

    p.boxes.expect(kPleaseOpen);
    p.boxes.expect(kPleaseOpen);
    p.boxes.expect(kPleaseOpen);
    for (int i = 0; i < 4; ++i) {
        send(p, QStringLiteral("v"));
    }
    QCOMPARE(serialLine(p.w).openWarnCount(), 3);
    // Each send still arms the time-out; with no answer it complains once, a second after the last send.
    p.boxes.expect(kNoResponse);
    QVERIFY(waitUntil([&] { return p.boxes.shown().size() == 4; }));
    VERIFY_BOXES(p.boxes);

    // Opening the port later does not bring the warning back.
    p.w->Command1_Click();
    QVERIFY(serialLine(p.w).portOpen());
    p.w->Command1_Click();
    send(p, QStringLiteral("get"));
    QVERIFY(p.device->sync());
    QVERIFY(p.device->received().isEmpty());
    VERIFY_BOXES(p.boxes);
}

void tst_console::replies_data() {
    QTest::addColumn<Chunks>("chunks");     // one write each, each read by the panel before the next
    QTest::addColumn<QStringList>("lines"); // the replies that reach the reply list
    QTest::addColumn<int>("pending");       // bytes of an unfinished reply afterwards

    QTest::newRow("whole") << Chunks{"OK "} << QStringList{"OK "} << 0;
    QTest::newRow("byte by byte") << Chunks{"O", "K", " "} << QStringList{"OK "} << 0;
    QTest::newRow("no end yet") << Chunks{"OK"} << QStringList{} << 2;
    QTest::newRow("lone space leads the next") << Chunks{" ", "OK "} << QStringList{" OK "} << 0;
    QTest::newRow("two replies in one write") << Chunks{"A1 B2 "} << QStringList{"A1 B2 "} << 0;
    QTest::newRow("25 bytes without a space")
        << Chunks{"abcdefghijklmnopqrstuvwxy"} << QStringList{"abcdefghijklmnopqrstu"} << 0;
    QTest::newRow("overflow across writes")
        << Chunks{QByteArray(21, 'a'), "bcd ", "OK "} << QStringList{QString(21, u'a'), "OK "} << 0;
}

void tst_console::replies() {
    QFETCH(Chunks, chunks);
    QFETCH(QStringList, lines);
    QFETCH(int, pending);
    Panel p;
    startOpen(p);
    const int before = ui(p.w).List2->count();

    for (const QByteArray& chunk : chunks) {
        const int rows = ui(p.w).List2->count();
        const int count = serialLine(p.w).pendingBytes();
        p.device->inject(chunk);
        QVERIFY(waitUntil(
            [&] { return ui(p.w).List2->count() != rows || serialLine(p.w).pendingBytes() != count; }));
    }
    QCOMPARE(p.replies().mid(before), lines);
    QCOMPARE(serialLine(p.w).pendingBytes(), pending);
    QCOMPARE(listLines(p.w), lines.size());
    if (!lines.isEmpty()) {
        QCOMPARE(ui(p.w).TxtReply->text(), lines.last());
        QCOMPARE(serialLine(p.w).replyText(), lines.last());
        QCOMPARE(ui(p.w).List2->currentRow(), ui(p.w).List2->count() - 1);
        QVERIFY(ui(p.w).List2->currentItem()->isSelected());
    }
    QCOMPARE(QDir(QDir::currentPath()).exists(QStringLiteral("demo.txt")), false);
    VERIFY_BOXES(p.boxes);
}

void tst_console::repliesWithinTheSecond() {
    Panel p;
    startOpen(p);
    debugMode(p.w) = true;
    p.device->setScript([](const QByteArray&) { return QByteArray("R1 "); });

    send(p, QStringLiteral("v"));
    QVERIFY(waitUntil([&] { return serialLine(p.w).replyText() == QStringLiteral("R1 "); }));
    p.device->inject("R2 ");
    QVERIFY(waitUntil([&] { return serialLine(p.w).replyText() == QStringLiteral("R2 "); }));
    p.device->inject("R3 ");
    QVERIFY(waitUntil([&] { return serialLine(p.w).replyText() == QStringLiteral("R3 "); }));
    // The time-out's tick has come and gone: it found the reply.
    QVERIFY(waitUntil([&] { return !serialLine(p.w).timeoutArmed(); }, 3000));
    VERIFY_BOXES(p.boxes);
    QCOMPARE(p.replies().mid(1), (QStringList{"R1 ", "R2 ", "R3 "}));
    QCOMPARE(ui(p.w).List1->count(), 1);
    QCOMPARE(ui(p.w).List1->item(0)->text(), QStringLiteral("v R3 "));
    QFile::remove(QStringLiteral("demo.txt"));
}

void tst_console::noReply_data() {
    QTest::addColumn<bool>("debug");
    QTest::newRow("normal") << false;
    QTest::newRow("debug") << true;
}

void tst_console::noReply() {
    QFETCH(bool, debug);
    Panel p;
    startOpen(p);
    debugMode(p.w) = debug;
    p.device->setMode(PtyDevice::Mode::Silent);
    p.boxes.expect(kNoResponse);

    QElapsedTimer t;
    t.start();
    send(p, QStringLiteral("z"));
    QVERIFY(waitUntil([&] { return !p.boxes.shown().isEmpty(); }, 5000));
    const qint64 after = t.elapsed();
    QVERIFY2(after >= 1000, qPrintable(QStringLiteral("%1 ms").arg(after)));
    // One arming, one message: the time-out is disarmed, so no second tick can come.
    QVERIFY(!serialLine(p.w).timeoutArmed());
    VERIFY_BOXES(p.boxes);
    if (debug) {
        QCOMPARE(ui(p.w).List1->count(), 1);
        QCOMPARE(ui(p.w).List1->item(0)->text(), QStringLiteral("z "));
        QCOMPARE(ui(p.w).List1->currentRow(), 0);
    } else {
        QCOMPARE(ui(p.w).List1->count(), 0);
    }
    // A late reply is still shown.
    p.device->inject("LATE ");
    QVERIFY(waitUntil([&] { return serialLine(p.w).replyText() == QStringLiteral("LATE "); }));
}

void tst_console::replyLog_data() {
    QTest::addColumn<bool>("debug");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("hidesLabel");

    QTest::newRow("debug, T reply") << true << QByteArray("T1 ") << true;
    QTest::newRow("debug, other reply") << true << QByteArray("t1 ") << false;
    QTest::newRow("normal, T reply") << false << QByteArray("T1 ") << false;
}

void tst_console::replyLog() {
    QFETCH(bool, debug);
    QFETCH(QByteArray, reply);
    QFETCH(bool, hidesLabel);
    QTemporaryDir cwd;
    QVERIFY(QDir::setCurrent(cwd.path()));
    Panel p;
    startOpen(p);
    debugMode(p.w) = debug;
    ui(p.w).Labwait->show();
    p.device->setScript([reply](const QByteArray&) { return reply; });

    send(p, QStringLiteral("C"));
    QVERIFY(waitUntil([&] { return !serialLine(p.w).replyText().isEmpty(); }));
    p.device->inject("OK ");
    QVERIFY(waitUntil([&] { return serialLine(p.w).replyText() == QStringLiteral("OK "); }));
    QCOMPARE(ui(p.w).Labwait->isHidden(), hidesLabel);

    QFile log(cwd.filePath(QStringLiteral("demo.txt")));
    if (debug) {
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY2(text.startsWith(reply) && text.indexOf("OK ", reply.size()) > 0, text.constData());
    } else {
        QVERIFY(!log.exists());
        QCOMPARE(QDir(cwd.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }
    QVERIFY(QDir::setCurrent(workDir_.path()));
}

void tst_console::unwritableLogCostsOnlyTheLog() {
    QTemporaryDir cwd;
    QVERIFY(QDir(cwd.path()).mkdir(QStringLiteral("demo.txt"))); // a folder where the log should be
    QVERIFY(QDir::setCurrent(cwd.path()));
    Panel p;
    startOpen(p);
    debugMode(p.w) = true;
    ui(p.w).Labwait->show();
    p.device->setScript([](const QByteArray&) { return QByteArray("T3 "); });

    send(p, QStringLiteral("C"));
    QVERIFY(waitUntil([&] { return serialLine(p.w).replyText() == QStringLiteral("T3 "); }));
    QVERIFY(ui(p.w).Labwait->isHidden());
    QCOMPARE(p.replies().last(), QStringLiteral("T3 "));
    QCOMPARE(listLines(p.w), 1);
    QCOMPARE(serialLine(p.w).pendingBytes(), 0);
    QVERIFY(QFileInfo(cwd.filePath(QStringLiteral("demo.txt"))).isDir());
    VERIFY_BOXES(p.boxes);
    QVERIFY(QDir::setCurrent(workDir_.path()));
}

void tst_console::replyListBound() {
    Panel p;
    startOpen(p);
    ui(p.w).List1->addItem(QStringLiteral("v OK "));
    for (int i = 1; i <= 1001; ++i) {
        p.device->inject(QByteArray::number(i) + ' ');
        QVERIFY2(waitUntil([&] { return listLines(p.w) == i; }), qPrintable(QString::number(i)));
    }
    QCOMPARE(ui(p.w).List2->count(), 1002); // the status line and 1001 replies
    QCOMPARE(ui(p.w).List1->count(), 1);
    QCOMPARE(p.replies().last(), QStringLiteral("1001 "));

    p.device->inject("1002 ");
    QVERIFY(waitUntil([&] { return serialLine(p.w).replyText() == QStringLiteral("1002 "); }));
    QCOMPARE(p.replies(), QStringList{"1002 "});
    QCOMPARE(ui(p.w).List1->count(), 0);
    QCOMPARE(listLines(p.w), 1);
    QCOMPARE(ui(p.w).List2->currentRow(), 0);
}

void tst_console::helpLinePick_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("word");
    QTest::newRow("g1 go 1 step") << 0 << "g1";
    QTest::newRow("z home") << 2 << "z";
    QTest::newRow("s3 scan span=3") << 6 << "s3";
    QTest::newRow("c1550 wavelength1550") << 7 << "c1550";
    QTest::newRow("G17573 go one circle") << 9 << "G17573";
    QTest::newRow("get product date") << 10 << "get";
}

void tst_console::helpLinePick() {
    QFETCH(int, index);
    QFETCH(QString, word);
    Panel p;
    startOpen(p);
    ui(p.w).TxtCom->setText(QStringLiteral("typed before"));

    ui(p.w).Comb->setCurrentIndex(index);
    p.w->Comb_Click();
    QCOMPARE(ui(p.w).TxtCom->text(), word);

    // The same through the list's own signal, as a pick by the operator delivers it.
    ui(p.w).TxtCom->clear();
    emit ui(p.w).Comb->activated(index);
    QCOMPARE(ui(p.w).TxtCom->text(), word);

    QVERIFY(p.device->sync());
    QVERIFY(p.device->received().isEmpty());
    QVERIFY(!serialLine(p.w).timeoutArmed());
    VERIFY_BOXES(p.boxes);
}

void tst_console::historyDoubleClick() {
    Panel p;
    startOpen(p);
    ui(p.w).List1->addItem(QStringLiteral("I5 OK "));
    ui(p.w).List1->addItem(QStringLiteral("G 17573 OK "));
    ui(p.w).List1->setCurrentRow(1);
    p.w->List1_DblClick();
    QVERIFY(p.device->waitForCommands(1));
    QCOMPARE(ui(p.w).TxtCom->text(), QStringLiteral("G"));
    QCOMPARE(serialLine(p.w).lastCmd(), QStringLiteral("G"));
    QVERIFY(serialLine(p.w).timeoutArmed());

    // A real double-click on the first line.
    const QRect row = ui(p.w).List1->visualItemRect(ui(p.w).List1->item(0));
    QTest::mouseClick(ui(p.w).List1->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(ui(p.w).List1->viewport(), Qt::LeftButton, {}, row.center());
    QVERIFY(p.device->sync());
    QCOMPARE(p.device->received(), QByteArray("G,I5,"));
    VERIFY_BOXES(p.boxes);
}

void tst_console::replyListDoubleClick() {
    Panel p;
    startOpen(p);
    p.device->inject("OK ");
    QVERIFY(waitUntil([&] { return listLines(p.w) == 1; }));
    ui(p.w).List1->addItem(QStringLiteral("v OK "));

    const QRect row = ui(p.w).List2->visualItemRect(ui(p.w).List2->item(0));
    QTest::mouseDClick(ui(p.w).List2->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(ui(p.w).List2->count(), 0);
    QCOMPARE(ui(p.w).List1->count(), 0);
    QCOMPARE(listLines(p.w), 0);
    QVERIFY(p.device->sync());
    QVERIFY(p.device->received().isEmpty());
}

void tst_console::clickInsideWait() {
    Panel p;
    startOpen(p);
    // While "get" waits between its queries, the operator sends another command; it runs to its end inside
    // the wait and its command reaches the line between the first and the last query.
    bool clicked = false;
    QSignalSpy ticks(&serialLine(p.w), &devlink::SerialLine::timedOut);
    QTimer::singleShot(20, p.w.get(), [&] {
        ui(p.w).TxtCom->setText(QStringLiteral("v"));
        ui(p.w).CmdSend->click();
        clicked = true;
    });
    send(p, QStringLiteral("get"));
    QVERIFY(clicked);
    QVERIFY(p.device->waitForCommands(4));
    const QStringList commands = p.commands();
    QCOMPARE(commands.size(), 4);
    const auto at = commands.indexOf(QStringLiteral("v"));
    QVERIFY2(at == 1 || at == 2, qPrintable(commands.join(u' ')));
    QCOMPARE(commands.first(), QStringLiteral("W103"));
    QCOMPARE(commands.last(), QStringLiteral("W105"));
    // Every query and the command were answered: the time-out the command armed finds a reply.
    QVERIFY(ticks.wait(3000));
    VERIFY_BOXES(p.boxes);
}

// A wait of no time still lets pending events run; how soon it returns is a figure of the benchmark.
void tst_console::delayZero() {
    Panel p;
    startOpen(p);
    for (const int ms : {0, -5}) {
        bool ran = false;
        QTimer::singleShot(0, p.w.get(), [&] { ran = true; });
        serialLine(p.w).DelayMs(ms);
        QVERIFY2(ran, qPrintable(QString::number(ms)));
    }
}

void tst_console::delayDoesNotBurnCpu() {
    Panel p;
    startOpen(p);
    QCoreApplication::processEvents();
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    wall.start();
    serialLine(p.w).DelayMs(250);
    const qint64 ms = wall.elapsed();
    const double cpuMs = (cpuSeconds() - cpu0) * 1000.0;
    QVERIFY2(ms >= 250, qPrintable(QString::number(ms)));
    QVERIFY2(cpuMs < 0.5 * static_cast<double>(ms),
             qPrintable(QStringLiteral("%1 ms CPU in %2 ms").arg(cpuMs).arg(ms)));
}

// Replies faster than the panel takes them: the list still clears itself past 1000 lines. The flood goes on
// until the list has had to do so.
void tst_console::replyFlood() {
    Panel p;
    startOpen(p);
    int mostRows = 0;
    int clears = 0;
    QAbstractItemModel* model = ui(p.w).List2->model();
    connect(model, &QAbstractItemModel::rowsInserted,
            [&] { mostRows = std::max(mostRows, ui(p.w).List2->count()); });
    connect(model, &QAbstractItemModel::modelReset, [&] { ++clears; });

    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread flood([&] {
        while (!stop) {
            p.device->inject("OK ");
            ++written;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    const bool cleared = waitUntil([&] { return clears > 0; }, 30000);
    stop = true;
    flood.join();
    QVERIFY(cleared);

    QVERIFY2(written > 1000, qPrintable(QString::number(written)));
    QVERIFY(listLines(p.w) >= 1);
    QVERIFY(listLines(p.w) <= 1001);
    QVERIFY2(mostRows <= 1002, qPrintable(QString::number(mostRows)));
    QVERIFY(ui(p.w).List2->count() <= 1002);
}

QTEST_MAIN(tst_console)
#include "tst_console.moc"
