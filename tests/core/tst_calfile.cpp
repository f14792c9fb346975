// SPDX-License-Identifier: MIT
// Reading and validating calibration files: the fixture files in tests/data and generated edge cases.

#include "calibration/calfile.h"
#include "support/trickledevice.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstring>

using calibration::CalTable;
using calibration::ReadResult;

namespace {

constexpr std::int16_t kUntouched = 4321;

// A table as an earlier reading left it, so that both the resets and the rows a reading must not reach
// show up.
CalTable usedTable() {
    CalTable t;
    t.calTable.fill(kUntouched);
    t.calMin = 5;
    t.calMax = 999999;
    return t;
}

QString dataPath(const QString& name) {
    return QStringLiteral(MEROVASK_TEST_DATA "/") + name;
}

QList<int> range(int count, int first, int step) {
    QList<int> rows;
    for (int i = 0; i < count; ++i)
        rows.append(first + i * step);
    return rows;
}

using testsupport::TrickleDevice;

// A line that never ends: only a reader that stops at the length limit comes back.
class EndlessDevice : public QIODevice {
  public:
    EndlessDevice() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }
    qint64 delivered = 0;

  protected:
    qint64 readData(char* out, qint64 maxSize) override {
        std::memset(out, '7', static_cast<size_t>(maxSize));
        delivered += maxSize;
        return maxSize;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
};

// Delivers its text and then fails, as a disk or network share can.
class FailingDevice : public QIODevice {
  public:
    explicit FailingDevice(QByteArray first) : first_(std::move(first)) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char* out, qint64 maxSize) override {
        if (first_.isEmpty())
            return -1;
        const qint64 n = std::min(maxSize, static_cast<qint64>(first_.size()));
        std::memcpy(out, first_.constData(), static_cast<size_t>(n));
        first_.remove(0, n);
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray first_;
};

QByteArray rows(int count, int firstWave) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += QByteArray::number(firstWave - i) + ',' + QByteArray::number(i) + "\r\n";
    return out;
}

} // namespace

class TstCalfile : public QObject {
    Q_OBJECT

  private slots:
    void fixtures_data();
    void fixtures();
    void anyChunking_data();
    void anyChunking();
    void lineLength_data();
    void lineLength();
    void megabyteLine();
    void endlessLine();
    void readErrors();
    void secondReadingKeepsRowsBeyond();
    void randomBytesNeverCrash();
    void texts();
};

void TstCalfile::fixtures_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("calMin");
    QTest::addColumn<int>("calMax");
    QTest::addColumn<QList<int>>("written"); // rows 0.. of calTable; every later row must be untouched
    QTest::addColumn<QString>("confirm");

    QTest::newRow("sample lines") << "cal_samples.txt" << int(ReadResult::Ok) << 13 << QString() << 0 << 1589
                                  << QList<int>{2345, 2301, 100, 12, 5, 99, 8, -12, 16, 15, 7, 0, 0}
                                  << "the wave range is from 0 to 1589 total 13, correct?";
    QTest::newRow("empty file") << "cal_empty.txt" << int(ReadResult::NoData) << 0
                                << "format error, no data !" << 100000 << 0 << QList<int>{} << QString();
    QTest::newRow("9 rows among skipped lines")
        << "cal_rows9.txt" << int(ReadResult::NoData) << 9 << "format error, no data !" << 1549 << 1589
        << range(9, 100, 1) << QString();
    QTest::newRow("10 rows, skipped heading, no final line end")
        << "cal_rows10.txt" << int(ReadResult::Ok) << 10 << QString() << 1517 << 1589 << range(10, 0, 1)
        << "the wave range is from 1517 to 1589 total 10, correct?";
    QTest::newRow("100 rows") << "cal_rows100.txt" << int(ReadResult::Ok) << 100 << QString() << 1501 << 1600
                              << range(100, -500, 10)
                              << "the wave range is from 1501 to 1600 total 100, correct?";
    QTest::newRow("101st row as the last line")
        << "cal_rows101.txt" << int(ReadResult::TooMany) << 101 << "format error, too many lines!" << 1500
        << 1600 << range(101, -500, 10) << QString();
    QTest::newRow("rising wavelengths") << "cal_rising.txt" << int(ReadResult::OrderError) << 1
                                        << "format error, the 1 wavelength1511 can't be bigger than 1510"
                                        << 1510 << 1511 << QList<int>{1} << QString();
    QTest::newRow("first row 12000") << "cal_first12000.txt" << int(ReadResult::OrderError) << 0
                                     << "format error, the 0 wavelength12000 can't be bigger than 10000"
                                     << 12000 << 12000 << QList<int>{} << QString();
    QTest::newRow("heading with a separator") << "cal_heading.txt" << int(ReadResult::OrderError) << 1
                                              << "format error, the 1 wavelength1589 can't be bigger than 0"
                                              << 0 << 1589 << QList<int>{0} << QString();
    QTest::newRow("LF-only line ends are one line")
        << "cal_lf_only.txt" << int(ReadResult::NoData) << 1 << "format error, no data !" << 1589 << 1589
        << QList<int>{1588} << QString();
    QTest::newRow("LF-only line ends run the value into the next row")
        << "cal_lf_only_values.txt" << int(ReadResult::BadValue) << 0
        << "format error, the 0 value23451588 is out of range -32768~32767" << 1589 << 1589 << QList<int>{}
        << QString();
    QTest::newRow("values rounded half to even")
        << "cal_halves.txt" << int(ReadResult::Ok) << 10 << QString() << 1571 << 1580
        << QList<int>{12, 14, 0, -2, -2, 32767, -32768, -32768, 32766, 100}
        << "the wave range is from 1571 to 1580 total 10, correct?";
    QTest::newRow("1550.3 after 1550.4 fails")
        << "cal_fraction_fail.txt" << int(ReadResult::OrderError) << 1
        << "format error, the 1 wavelength1550.3 can't be bigger than 1550" << 1550 << 1550 << QList<int>{1}
        << QString();
    QTest::newRow("1550.9 after 1550.6 passes")
        << "cal_fraction_pass.txt" << int(ReadResult::Ok) << 10 << QString() << 1543 << 1551
        << range(10, 1, 1) << "the wave range is from 1543 to 1551 total 10, correct?";
    QTest::newRow("80 rows from 1589.5 to 1510.5")
        << "cal_80rows.txt" << int(ReadResult::Ok) << 80 << QString() << 1510 << 1590 << range(80, 0, 1)
        << "the wave range is from 1510 to 1590 total 80, correct?";
    QTest::newRow("value out of range") << "cal_value_range.txt" << int(ReadResult::BadValue) << 2
                                        << "format error, the 2 value32767.5 is out of range -32768~32767"
                                        << 1587 << 1589 << QList<int>{1, -32768} << QString();
    QTest::newRow("wavelength below -32768") << "cal_wave_low.txt" << int(ReadResult::BadWave) << 1
                                             << "format error, the 1 wavelength-40000 is out of range"
                                             << -40000 << 1589 << QList<int>{1} << QString();
    QTest::newRow("wavelength above 32 bits") << "cal_wave_huge.txt" << int(ReadResult::BadWave) << 0
                                              << "format error, the 0 wavelength30000000000 is out of range"
                                              << 100000 << 0 << QList<int>{} << QString();
    QTest::newRow("wavelength below 32 bits") << "cal_wave_neg_huge.txt" << int(ReadResult::BadWave) << 1
                                              << "format error, the 1 wavelength-30000000000 is out of range"
                                              << 1589 << 1589 << QList<int>{1} << QString();
    QTest::newRow("binary garbage") << "cal_binary.bin" << int(ReadResult::NoData) << 1
                                    << "format error, no data !" << 0 << 0 << QList<int>{0} << QString();
}

void TstCalfile::fixtures() {
    QFETCH(QString, file);
    QFETCH(int, kind);
    QFETCH(int, rowCount);
    QFETCH(QString, message);
    QFETCH(int, calMin);
    QFETCH(int, calMax);
    QFETCH(QList<int>, written);
    QFETCH(QString, confirm);

    QFile in(dataPath(file));
    QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(in.errorString()));
    CalTable table = usedTable();
    const ReadResult r = calibration::readCalibration(in, table);

    QCOMPARE(r.message, message);
    QCOMPARE(int(r.kind), kind);
    QCOMPARE(int(r.rowCount), rowCount);
    QCOMPARE(table.calMin, calMin);
    QCOMPARE(table.calMax, calMax);
    for (int i = 0; i < calibration::kTableRows; ++i) {
        const int expected = i < written.size() ? written[i] : kUntouched;
        QVERIFY2(
            table.calTable[i] == expected,
            qPrintable(
                QStringLiteral("row %1 holds %2, expected %3").arg(i).arg(table.calTable[i]).arg(expected)));
    }
    if (!confirm.isEmpty())
        QCOMPARE(calibration::confirmText(table, r.rowCount), confirm);
}

void TstCalfile::anyChunking_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("step");
    for (const char* file : {"cal_samples.txt", "cal_rows101.txt", "cal_binary.bin", "cal_lf_only.txt"}) {
        for (qint64 step : {1, 2, 3, 7, 1 << 20})
            QTest::newRow(QByteArray(file + QByteArray(" by ") + QByteArray::number(step)).constData())
                << QString::fromLatin1(file) << step;
    }
}

void TstCalfile::anyChunking() {
    // A CR LF split over two reads is still one line end: in the sample file the 5-character line "1,234"
    // follows a CR LF, and a stray LF in front of it would make it a data row that breaks the order.
    QFETCH(QString, file);
    QFETCH(qint64, step);
    QFile whole(dataPath(file));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    whole.seek(0);

    CalTable expectedTable = usedTable();
    const ReadResult expected = calibration::readCalibration(whole, expectedTable);
    TrickleDevice trickle(bytes, step);
    CalTable table = usedTable();
    const ReadResult r = calibration::readCalibration(trickle, table);

    if (step == 1)
        QVERIFY2(trickle.reads >= bytes.size(), "the device was not read in single bytes");
    QCOMPARE(int(r.kind), int(expected.kind));
    QCOMPARE(r.rowCount, expected.rowCount);
    QCOMPARE(r.message, expected.message);
    QCOMPARE(table.calMin, expectedTable.calMin);
    QCOMPARE(table.calMax, expectedTable.calMax);
    QVERIFY(table.calTable == expectedTable.calTable);
}

void TstCalfile::lineLength_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<QString>("message");

    const int limit = calibration::kMaxLineLength;
    QTest::newRow("skipped line of exactly the limit")
        << QByteArray(limit, 'x') + "\r\n" + rows(10, 1589) << int(ReadResult::Ok) << 10 << QString();
    QTest::newRow("data row padded with blanks to exactly the limit")
        << "1600,9" + QByteArray(limit - 6, ' ') + "\r\n" + rows(10, 1589) << int(ReadResult::Ok) << 11
        << QString();
    QTest::newRow("last line of exactly the limit, no line end")
        << rows(10, 1589) + QByteArray(limit - 5, ' ') + "1,234" << int(ReadResult::Ok) << 10 << QString();
    QTest::newRow("one character over, first line")
        << QByteArray(limit + 1, 'x') + "\r\n" + rows(10, 1589) << int(ReadResult::LineTooLong) << 0
        << "format error, line 1 is too long!";
    QTest::newRow("blanks count before stripping")
        << rows(3, 1589) + "1500,9" + QByteArray(limit - 5, ' ') + "\r\n"
        << int(ReadResult::LineTooLong) << 3 << "format error, line 4 is too long!";
    QTest::newRow("line feeds count as characters, skipped lines count as lines")
        << "head\r\rxx\r\n" + QByteArray(limit + 1, '\n') << int(ReadResult::LineTooLong) << 0
        << "format error, line 4 is too long!";
    QTest::newRow("a format error ends the reading before a long line")
        << "1500,1\r\n1600,2\r\n" + QByteArray(limit + 1, 'x') << int(ReadResult::OrderError) << 1
        << "format error, the 1 wavelength1600 can't be bigger than 1500";
}

void TstCalfile::lineLength() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(int, rowCount);
    QFETCH(QString, message);
    QBuffer in(&bytes);
    QVERIFY(in.open(QIODevice::ReadOnly));
    CalTable table = usedTable();
    const ReadResult r = calibration::readCalibration(in, table);
    QCOMPARE(r.message, message);
    QCOMPARE(int(r.kind), kind);
    QCOMPARE(int(r.rowCount), rowCount);
}

void TstCalfile::megabyteLine() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("long.txt"));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("1589,11\r\n1588,12\r\n");
        QByteArray line(1 << 20, '5');
        line[3] = ',';
        out.write(line);
        out.write("\r\n" + rows(20, 1580));
    }
    QFile in(path);
    QVERIFY(in.open(QIODevice::ReadOnly));
    CalTable table = usedTable();
    const ReadResult r = calibration::readCalibration(in, table);
    QCOMPARE(r.message, QStringLiteral("format error, line 3 is too long!"));
    QCOMPARE(int(r.kind), int(ReadResult::LineTooLong));
    QCOMPARE(int(r.rowCount), 2);
    QCOMPARE(table.calTable[0], 11);
    QCOMPARE(table.calTable[1], 12);
    QCOMPARE(table.calTable[2], kUntouched);
    QVERIFY2(in.pos() < (1 << 19), "the reader went on through the whole long line");
}

void TstCalfile::endlessLine() {
    EndlessDevice in;
    CalTable table = usedTable();
    const ReadResult r = calibration::readCalibration(in, table);
    QCOMPARE(int(r.kind), int(ReadResult::LineTooLong));
    QCOMPARE(r.message, QStringLiteral("format error, line 1 is too long!"));
    QVERIFY(in.delivered < (1 << 20));
}

void TstCalfile::readErrors() {
    {
        QFile closed(dataPath(QStringLiteral("cal_rows10.txt")));
        CalTable table = usedTable();
        const ReadResult r = calibration::readCalibration(closed, table);
        QCOMPARE(int(r.kind), int(ReadResult::ReadFailed));
        QCOMPARE(r.message, calibration::unreadableText(closed.fileName()));
        QCOMPARE(int(r.rowCount), 0);
        QCOMPARE(table.calTable[0], kUntouched);
    }
    {
        FailingDevice in(rows(12, 1589).left(20));
        CalTable table = usedTable();
        const ReadResult r = calibration::readCalibration(in, table);
        QCOMPARE(int(r.kind), int(ReadResult::ReadFailed));
        QVERIFY(r.message.startsWith(QStringLiteral("can't read the file")));
        QCOMPARE(int(r.rowCount), 2); // the rows before the failure were read; the caller stores nothing
    }
    {
        // A real file whose reading fails: offset 0 of the process memory is never mapped.
        QFile mem(QStringLiteral("/proc/self/mem"));
        if (!mem.open(QIODevice::ReadOnly))
            QSKIP("no /proc/self/mem here");
        CalTable table = usedTable();
        const ReadResult r = calibration::readCalibration(mem, table);
        QCOMPARE(int(r.kind), int(ReadResult::ReadFailed));
        QCOMPARE(r.message, QStringLiteral("can't read the file /proc/self/mem"));
    }
}

void TstCalfile::secondReadingKeepsRowsBeyond() {
    CalTable table = usedTable();
    QFile first(dataPath(QStringLiteral("cal_rows100.txt")));
    QFile second(dataPath(QStringLiteral("cal_rows10.txt")));
    QVERIFY(first.open(QIODevice::ReadOnly));
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(int(calibration::readCalibration(first, table).kind), int(ReadResult::Ok));
    const ReadResult r = calibration::readCalibration(second, table);
    QCOMPARE(int(r.kind), int(ReadResult::Ok));
    QCOMPARE(calibration::confirmText(table, r.rowCount),
             QStringLiteral("the wave range is from 1517 to 1589 total 10, correct?"));
    QCOMPARE(table.calTable[9], 9);
    QCOMPARE(table.calTable[10], 10 * 10 - 500);
    QCOMPARE(table.calTable[99], 99 * 10 - 500);
    QCOMPARE(table.calTable[100], kUntouched);
}

void TstCalfile::randomBytesNeverCrash() {
    // Mostly bytes that matter to the reader, so that many lines get as far as the checks.
    const char alphabet[] = "0123456789012345678901234567890123456789.,,\t\t\x14\r\r\n\n  -+eEdD&HhOo";
    QRandomGenerator rng(4242);
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes(static_cast<qsizetype>(rng.bounded(2000)), '\0');
        for (char& c : bytes)
            c = rng.bounded(6) == 0 ? static_cast<char>(rng.bounded(256))
                                    : alphabet[rng.bounded(static_cast<int>(sizeof alphabet - 1))];
        QBuffer in(&bytes);
        QVERIFY(in.open(QIODevice::ReadOnly));
        CalTable table = usedTable();
        const ReadResult r = calibration::readCalibration(in, table);
        QVERIFY(r.rowCount >= 0 && r.rowCount <= calibration::kMaxRows + 1);
        QCOMPARE(r.kind == ReadResult::Ok, r.message.isEmpty());
        if (r.kind == ReadResult::Ok)
            QVERIFY(r.rowCount >= calibration::kMinRows && r.rowCount <= calibration::kMaxRows);
        QCOMPARE(table.calTable[calibration::kMaxRows + 1], kUntouched);
    }
}

void TstCalfile::texts() {
    CalTable table;
    table.calMin = -20;
    table.calMax = 1589;
    QCOMPARE(calibration::confirmText(table, 80),
             QStringLiteral("the wave range is from -20 to 1589 total 80, correct?"));
    QCOMPARE(calibration::unreadableText(QStringLiteral("/tmp/a b.txt")),
             QStringLiteral("can't read the file /tmp/a b.txt"));
}

QTEST_APPLESS_MAIN(TstCalfile)
#include "tst_calfile.moc"
