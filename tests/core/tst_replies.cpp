// SPDX-License-Identifier: MIT
// Reply assembly from receive notifications, and the command texts the panel builds.

#include "device/commands.h"
#include "device/replyassembler.h"

#include <QTest>

using Chunks = QList<QByteArray>;
Q_DECLARE_METATYPE(Chunks)

class tst_replies : public QObject {
    Q_OBJECT

  private slots:
    void assemble_data();
    void assemble();
    void commandText_data();
    void commandText();
};

void tst_replies::assemble_data() {
    QTest::addColumn<Chunks>("chunks");  // the bytes of successive notifications
    QTest::addColumn<Chunks>("replies"); // every reply completed, in order
    QTest::addColumn<int>("pending");    // bytes of an unfinished reply left over

    QTest::newRow("whole") << Chunks{"OK "} << Chunks{"OK "} << 0;
    QTest::newRow("bytewise") << Chunks{"O", "K", " "} << Chunks{"OK "} << 0;
    QTest::newRow("no space yet") << Chunks{"OK"} << Chunks{} << 2;
    QTest::newRow("lone space waits") << Chunks{" "} << Chunks{} << 1;
    QTest::newRow("lone space leads the next") << Chunks{" ", "OK "} << Chunks{" OK "} << 0;
    QTest::newRow("two in one notification") << Chunks{"A1 B2 "} << Chunks{"A1 B2 "} << 0;
    QTest::newRow("inner blank split by notifications") << Chunks{"V 1", ".2 "} << Chunks{"V 1.2 "} << 0;
    QTest::newRow("blank last in a notification ends it")
        << Chunks{"V ", "1.2 "} << Chunks{"V ", "1.2 "} << 0;
    QTest::newRow("21 bytes ending in a space")
        << Chunks{QByteArray(20, 'a') + ' '} << Chunks{QByteArray(20, 'a') + ' '} << 0;
    QTest::newRow("21 bytes without a space wait") << Chunks{QByteArray(21, 'a')} << Chunks{} << 21;
    QTest::newRow("22nd byte completes")
        << Chunks{QByteArray(21, 'a'), "b"} << Chunks{QByteArray(21, 'a')} << 0;
    QTest::newRow("25 bytes cut to 21") << Chunks{QByteArray("abcdefghijklmnopqrstuvwxy")}
                                        << Chunks{QByteArray("abcdefghijklmnopqrstu")} << 0;
    QTest::newRow("overflow then fresh reply")
        << Chunks{QByteArray(30, 'x') + ' ', "OK "} << Chunks{QByteArray(21, 'x'), "OK "} << 0;
    QTest::newRow("empty notification") << Chunks{"O", "", "K "} << Chunks{"OK "} << 0;
    QTest::newRow("CR LF are text") << Chunks{"OK\r\n "} << Chunks{"OK\r\n "} << 0;
    QTest::newRow("8-bit bytes") << Chunks{"\xff\xe9 "} << Chunks{"\xff\xe9 "} << 0;
}

void tst_replies::assemble() {
    QFETCH(Chunks, chunks);
    QFETCH(Chunks, replies);
    QFETCH(int, pending);

    devlink::ReplyAssembler rx;
    Chunks got;
    for (const QByteArray& chunk : chunks) {
        if (const auto reply = rx.feed(chunk)) {
            got << *reply;
        }
    }
    QCOMPARE(got, replies);
    QCOMPARE(rx.count(), pending);
}

void tst_replies::commandText_data() {
    namespace cmd = devlink::cmd;
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("wavelength") << cmd::wavelength(1589) << "C1589";
    QTest::newRow("step up") << cmd::stepUp(30) << "I30";
    QTest::newRow("step down") << cmd::stepDown(4) << "D4";
    QTest::newRow("scan start") << cmd::scanStart(1510) << "L1510";
    QTest::newRow("scan end") << cmd::scanEnd(1589) << "H1589";
    QTest::newRow("stay time") << cmd::stayTime(300) << "T300";
    QTest::newRow("scan span") << cmd::scanSpan(30) << "S30";
    QTest::newRow("calibrate") << cmd::calibrate() << "Z";
    QTest::newRow("channel 1") << cmd::channel(0) << "A";
    QTest::newRow("channel 2") << cmd::channel(1) << "B";
    QTest::newRow("channel 3") << cmd::channel(2) << "C";
    QTest::newRow("channel 4") << cmd::channel(3) << "D";
    QTest::newRow("read slot") << cmd::readSlot(cmd::kSlotYear) << "W103";
    QTest::newRow("write slot") << cmd::writeSlot(0) << "X0";
    QTest::newRow("negative value") << cmd::slotValue(-12) << "Y-12";
    QTest::newRow("int16 extreme") << cmd::slotValue(-32768) << "Y-32768";
    QTest::newRow("date keeps zeros") << cmd::slotDigits(QStringLiteral("0305")) << "Y0305";
    QTest::newRow("terminated") << cmd::terminated(cmd::wavelength(1550)) << "C1550,";
    QTest::newRow("help word") << cmd::commandWord(QStringLiteral("c1550 wavelength1550")) << "c1550";
    QTest::newRow("history word, leading blank") << cmd::commandWord(QStringLiteral(" OK ")) << "";
    QTest::newRow("get line") << cmd::commandWord(cmd::helpLines().last()) << "get";
}

void tst_replies::commandText() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

QTEST_MAIN(tst_replies)
#include "tst_replies.moc"
