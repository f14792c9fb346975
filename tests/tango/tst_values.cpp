// SPDX-License-Identifier: MIT
// What the device server makes of the filter's values: the calibration's date stamp, a table given as
// numbers (checked as its file would be), and an operation's end as a refusal.

#include "values.h"

#include "device/texts.h"

#include <QtTest>

using service::Outcome;

class TestValues : public QObject {
    Q_OBJECT

  private slots:
    void calibrationDate_data();
    void calibrationDate();
    void tableFromPairs_data();
    void tableFromPairs();
    void refusal_data();
    void refusal();
};

void TestValues::calibrationDate_data() {
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QString>("date");
    QTest::newRow("a date stamp") << QStringList{"2024", "0305", "0907"} << "2024-03-05 09:07";
    QTest::newRow("never written") << QStringList{"0", "0", "0"} << "0 0 0";
    QTest::newRow("not four digits") << QStringList{"2024", "305", "0907"} << "2024 305 0907";
    QTest::newRow("not digits") << QStringList{"2024", "ER?", "0907"} << "2024 ER? 0907";
    QTest::newRow("a reply missing") << QStringList{"2024", "0305"} << "2024 0305";
}

void TestValues::calibrationDate() {
    QFETCH(QStringList, replies);
    QFETCH(QString, date);
    QCOMPARE(tangoserver::calibrationDate(replies), date);
}

// The numbers are the file's rows: a table is taken or refused with the file's message, which the same rows
// in a file give.
void TestValues::tableFromPairs_data() {
    QTest::addColumn<QList<double>>("numbers");
    QTest::addColumn<QByteArray>("file"); // the same table as a file's text; empty: no such file
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("rows");
    QList<double> ten, rising, fractions;
    QByteArray tenFile, risingFile, fractionsFile;
    for (int i = 0; i < 10; ++i) {
        ten << 1589 - 8 * i << i - 5;
        tenFile += QByteArray::number(1589 - 8 * i) + '\t' + QByteArray::number(i - 5) + "\r\n";
        rising << 1500 + i << 1;
        risingFile += QByteArray::number(1500 + i) + '\t' + "1\r\n";
        fractions << 1589.5 - 8 * i << 0.5 + i;
        fractionsFile += QByteArray::number(1589.5 - 8 * i) + '\t' + QByteArray::number(0.5 + i) + "\r\n";
    }
    QTest::newRow("ten rows") << ten << tenFile << QString() << 10;
    QTest::newRow("fractions rounded as in a file") << fractions << fractionsFile << QString() << 10;
    QTest::newRow("rising") << rising << risingFile << QString() << -1;
    QTest::newRow("nine rows") << ten.mid(0, 18) << tenFile.left(tenFile.lastIndexOf("1517")) << QString()
                               << -1;
    QTest::newRow("a value out of range")
        << (QList<double>(ten) << 1500 << 40000) << tenFile + "1500\t40000\r\n"
        << QString() << -1;
    QTest::newRow("odd") << ten.mid(0, 19) << QByteArray() << texts::tableNotInPairs(19) << -1;
}

void TestValues::tableFromPairs() {
    QFETCH(QList<double>, numbers);
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    QFETCH(int, rows);
    calibration::CalTable table, fromFile;
    const calibration::ReadResult read = tangoserver::tableFromPairs({numbers.begin(), numbers.end()}, table);
    if (!file.isEmpty()) {
        QBuffer buffer(&file);
        buffer.open(QIODevice::ReadOnly);
        const calibration::ReadResult expected = calibration::readCalibration(buffer, fromFile);
        message = expected.message;
        QCOMPARE(read.kind, expected.kind);
        QCOMPARE(table.calTable, fromFile.calTable);
        QCOMPARE(table.calMin, fromFile.calMin);
        QCOMPARE(table.calMax, fromFile.calMax);
    }
    QCOMPARE(read.message, message);
    QCOMPARE(read.kind == calibration::ReadResult::Ok ? int(read.rowCount) : -1, rows);
}

void TestValues::refusal_data() {
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("text"); // the outcome's
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("shown");
    QTest::newRow("done") << int(Outcome::End::Done) << ""
                          << ""
                          << "";
    QTest::newRow("no reply") << int(Outcome::End::NoReply) << ""
                              << "MEROVASK_NoReply" << texts::noResponse();
    QTest::newRow("port closed") << int(Outcome::End::NoPort) << texts::serverClosed(2) << "MEROVASK_NoPort"
                                 << texts::serverClosed(2);
    QTest::newRow("port gone meanwhile") << int(Outcome::End::NoPort) << ""
                                         << "MEROVASK_NoPort" << texts::portWentAway();
    QTest::newRow("upload lost") << int(Outcome::End::Failed) << texts::uploadNoResponse()
                                 << "MEROVASK_Failed" << texts::uploadNoResponse();
    QTest::newRow("server ending") << int(Outcome::End::Stopped) << ""
                                   << "MEROVASK_Stopped" << texts::serverStopping();
}

void TestValues::refusal() {
    QFETCH(int, end);
    QFETCH(QString, text);
    QFETCH(QString, reason);
    QFETCH(QString, shown);
    Outcome outcome;
    outcome.end = Outcome::End(end);
    outcome.text = text;
    const auto why = tangoserver::refusal(outcome);
    QCOMPARE(why ? QString::fromLatin1(why->reason) : QString(), reason);
    QCOMPARE(why ? why->text : QString(), shown);
}

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
