// SPDX-License-Identifier: MIT
// The number reader and the range limiting behind every box of the wavelength panel.

#include "device/limits.h"
#include "device/number.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <cstring>
#include <limits>

using filter::LimitKind;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Bitwise equality: the reader promises the correctly rounded double, not one that is merely close.
bool sameDouble(double a, double b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return a == b;
}

QString describe(double v) {
    return QString::number(v, 'g', 17);
}

} // namespace

Q_DECLARE_METATYPE(std::optional<std::int32_t>)

class TstNumber : public QObject {
    Q_OBJECT

  private slots:
    void readNumber_data();
    void readNumber();
    void longRuns_data();
    void longRuns();
    void matchesQtForPrintedDoubles();
    void garbageNeverCrashes();
    void roundTo_data();
    void roundTo();
    void wholeValue_data();
    void wholeValue();
    void wholeValue16_data();
    void wholeValue16();
    void setLimit_data();
    void setLimit();
};

void TstNumber::readNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("plain") << "1550" << 1550.0;
    QTest::newRow("blank between digits, then letters") << "15 50 nm" << 1550.0;
    QTest::newRow("comma ends the number") << "1,550" << 1.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("exponent") << "1.5e3" << 1500.0;
    QTest::newRow("exponent upper case") << "1.5E3" << 1500.0;
    QTest::newRow("exponent D") << "1d2" << 100.0;
    QTest::newRow("exponent D upper case") << "1D2" << 100.0;
    QTest::newRow("negative exponent") << "25e-1" << 2.5;
    QTest::newRow("exponent plus sign") << "2e+2" << 200.0;
    QTest::newRow("exponent letter alone") << "1e" << 1.0;
    QTest::newRow("exponent sign alone") << "1e+" << 1.0;
    QTest::newRow("exponent then letters") << "7e-x" << 7.0;
    QTest::newRow("exponent stops at point") << "1e3.5" << 1000.0;
    QTest::newRow("blanks inside exponent") << "1 e 3" << 1000.0;
    QTest::newRow("hex") << "&H60E" << 1550.0;
    QTest::newRow("hex lower case") << "&h60e" << 1550.0;
    QTest::newRow("octal") << "&O3016" << 1550.0;
    QTest::newRow("octal lower case") << "&o17" << 15.0;
    QTest::newRow("octal stops at 8") << "&O178" << 15.0;
    QTest::newRow("hex with blanks") << "& H 1 0" << 16.0;
    QTest::newRow("hex 16 bits, no wrap") << "&HFFFF" << 65535.0;
    QTest::newRow("hex 32 bits, no wrap") << "&HFFFFFFFF" << 4294967295.0;
    QTest::newRow("hex 64 bits") << "&H10000000000000000" << 18446744073709551616.0;
    QTest::newRow("hex leading zeros") << "&H0000000000000000000000000001F" << 31.0;
    QTest::newRow("hex without digits") << "&H" << 0.0;
    QTest::newRow("hex with a bad digit") << "&HG1" << 0.0;
    QTest::newRow("hex with sign after prefix") << "&H-5" << 0.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("unknown prefix") << "&X12" << 0.0;
    QTest::newRow("sign before prefix") << "-&H10" << 0.0;
    QTest::newRow("hex only at the front") << "1&H10" << 1.0;
    QTest::newRow("C hex is no prefix") << "0x10" << 0.0;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "5." << 5.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("point then exponent") << ".e5" << 0.0;
    QTest::newRow("second point ends") << "1.5.3" << 1.5;
    QTest::newRow("double point") << "1..5" << 1.0;
    QTest::newRow("half") << "1550.5" << 1550.5;
    QTest::newRow("tenth is the nearest double") << "0.1" << 0.1;
    QTest::newRow("negative") << "-7" << -7.0;
    QTest::newRow("blank after sign") << "- 7" << -7.0;
    QTest::newRow("plus sign") << "+5" << 5.0;
    QTest::newRow("two signs") << "--5" << 0.0;
    QTest::newRow("mixed signs") << "+-5" << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("tabs and line feeds skipped") << "\t\n 4\n2\t" << 42.0;
    QTest::newRow("carriage return is not skipped") << "1\r2" << 1.0;
    QTest::newRow("trailing blanks") << "3   " << 3.0;
    QTest::newRow("port name") << "COM3" << 0.0;
    QTest::newRow("digits then letters") << "12abc" << 12.0;
    QTest::newRow("non-ASCII digits are no digits") << QString::fromUtf8("\xd9\xa1\xd9\xa2") << 0.0;
    QTest::newRow("non-breaking space is no blank") << QString::fromUtf8("\xc2\xa0"
                                                                         "5")
                                                    << 0.0;
    QTest::newRow("too big for 32 bits") << "3e10" << 3e10;
    QTest::newRow("many digits") << "123456789012345678901234567890" << 123456789012345678901234567890.0;
    QTest::newRow("leading zeros") << "000000000000000000000000001550" << 1550.0;
    QTest::newRow("overflow") << "1e400" << kInf;
    QTest::newRow("negative overflow") << "-1e400" << -kInf;
    QTest::newRow("underflow") << "1e-400" << 0.0;
    QTest::newRow("exponent of 20 digits") << "1e99999999999999999999" << kInf;
    QTest::newRow("negative exponent of 20 digits") << "1e-99999999999999999999" << 0.0;
    QTest::newRow("zero with a huge exponent") << "0e99999999999999999999" << 0.0;
    QTest::newRow("exponent with leading zeros") << "1e0000000000000000000000000001" << 10.0;
    QTest::newRow("largest double") << "1.7976931348623157e308" << std::numeric_limits<double>::max();
    QTest::newRow("smallest subnormal")
        << "4.9406564584124654e-324" << std::numeric_limits<double>::denorm_min();
}

void TstNumber::readNumber() {
    QFETCH(QString, text);
    QFETCH(double, expected);
    const double actual = filter::readNumber(text);
    QVERIFY2(sameDouble(actual, expected), qPrintable(describe(actual) + " != " + describe(expected)));
}

void TstNumber::longRuns_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    const int n = 100000;
    QTest::newRow("100000 nines") << QString(n, u'9') << kInf;
    QTest::newRow("100000 zeros then 7") << QString(n, u'0') + u'7' << 7.0;
    QTest::newRow("tiny fraction") << QStringLiteral("0.") + QString(n, u'0') + u'1' << 0.0;
    QTest::newRow("tiny fraction scaled back")
        << QStringLiteral("0.") + QString(n, u'0') + QStringLiteral("5e100005") << 50000.0;
    QTest::newRow("huge number scaled back")
        << QStringLiteral("1") + QString(n, u'0') + QStringLiteral("e-100000") << 1.0;
    QTest::newRow("100000 blanks") << QString(n, u' ') + QStringLiteral("12") << 12.0;
    QTest::newRow("digits split by blanks") << QStringLiteral("1 ").repeated(n) << kInf;
    QTest::newRow("100000 hex digits") << QStringLiteral("&H") + QString(n, u'F') << kInf;
    QTest::newRow("100000 exponent digits") << QStringLiteral("1e") + QString(n, u'9') << kInf;
}

void TstNumber::longRuns() {
    QFETCH(QString, text);
    QFETCH(double, expected);
    // How long the reader takes for these is a figure of the benchmark.
    const double actual = filter::readNumber(text);
    QVERIFY2(sameDouble(actual, expected), qPrintable(describe(actual) + " != " + describe(expected)));
}

void TstNumber::matchesQtForPrintedDoubles() {
    // Whatever Qt prints with full precision must read back as the very same double, with blanks
    // sprinkled anywhere and in every exponent style.
    QRandomGenerator rng(1550);
    for (int i = 0; i < 20000; ++i) {
        double v = 0;
        do {
            quint64 bits = rng.generate64();
            std::memcpy(&v, &bits, sizeof v);
        } while (!std::isfinite(v));
        if (i % 2 && v != 0.0)
            v = std::ldexp(v, -std::ilogb(v)) * std::pow(10.0, static_cast<double>(rng.bounded(-20, 20)));
        QString text = QString::number(v, i % 3 ? 'g' : 'e', 17);
        if (i % 5 == 0)
            text.replace(u'e', u'D');
        if (i % 7 == 0)
            text.insert(static_cast<qsizetype>(rng.bounded(text.size() + 1)), u' ');
        const double back = filter::readNumber(text);
        QVERIFY2(sameDouble(back, v), qPrintable(text + " read as " + describe(back)));
    }
}

void TstNumber::garbageNeverCrashes() {
    const char16_t alphabet[] = u"0123456789+-.eEdDhHoO& \t\n\r,xX\xff\x14";
    QRandomGenerator rng(20);
    QString text;
    for (int i = 0; i < 20000; ++i) {
        text.resize(static_cast<qsizetype>(rng.bounded(40)));
        for (QChar& c : text) {
            if (rng.bounded(8) == 0)
                c = QChar(static_cast<char16_t>(rng.bounded(0x10000)));
            else
                c = QChar(alphabet[rng.bounded(static_cast<int>(std::size(alphabet) - 1))]);
        }
        const double v = filter::readNumber(text);
        QVERIFY2(!std::isnan(v), qPrintable(text.toUtf8().toPercentEncoding()));
        (void)filter::wholeValue(text);
        (void)filter::wholeValue16(text);
    }
}

void TstNumber::roundTo_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<std::optional<std::int32_t>>("expected32");
    QTest::addColumn<std::optional<std::int32_t>>("expected16");
    using O = std::optional<std::int32_t>;
    const O none;

    QTest::newRow("1550.5 to even below") << 1550.5 << O(1550) << O(1550);
    QTest::newRow("1551.5 to even above") << 1551.5 << O(1552) << O(1552);
    QTest::newRow("2.5") << 2.5 << O(2) << O(2);
    QTest::newRow("3.5") << 3.5 << O(4) << O(4);
    QTest::newRow("0.5") << 0.5 << O(0) << O(0);
    QTest::newRow("-0.5") << -0.5 << O(0) << O(0);
    QTest::newRow("-1.5") << -1.5 << O(-2) << O(-2);
    QTest::newRow("-2.5") << -2.5 << O(-2) << O(-2);
    QTest::newRow("below half") << 1550.4999999 << O(1550) << O(1550);
    QTest::newRow("above half") << 1550.5000001 << O(1551) << O(1551);
    QTest::newRow("largest double below a half") << 0.49999999999999994 << O(0) << O(0);
    QTest::newRow("negative zero") << -0.0 << O(0) << O(0);
    QTest::newRow("int16 max") << 32767.0 << O(32767) << O(32767);
    QTest::newRow("int16 max + half rounds out") << 32767.5 << O(32768) << none;
    QTest::newRow("int16 max + 0.4") << 32767.4 << O(32767) << O(32767);
    QTest::newRow("int16 min") << -32768.0 << O(-32768) << O(-32768);
    QTest::newRow("int16 min - half rounds to even") << -32768.5 << O(-32768) << O(-32768);
    QTest::newRow("int16 min - 0.6") << -32768.6 << O(-32769) << none;
    QTest::newRow("port 70000") << 70000.0 << O(70000) << none;
    QTest::newRow("int32 max") << 2147483647.0 << O(2147483647) << none;
    QTest::newRow("int32 max + 0.4") << 2147483647.4 << O(2147483647) << none;
    QTest::newRow("int32 max + half rounds out") << 2147483647.5 << none << none;
    QTest::newRow("int32 min") << -2147483648.0 << O(std::numeric_limits<std::int32_t>::min()) << none;
    QTest::newRow("int32 min - half rounds to even")
        << -2147483648.5 << O(std::numeric_limits<std::int32_t>::min()) << none;
    QTest::newRow("int32 min - 0.6") << -2147483648.6 << none << none;
    QTest::newRow("int32 min - 1") << -2147483649.0 << none << none;
    QTest::newRow("3e10") << 3e10 << none << none;
    QTest::newRow("2^63") << 9223372036854775808.0 << none << none;
    QTest::newRow("infinity") << kInf << none << none;
    QTest::newRow("minus infinity") << -kInf << none << none;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << none << none;
}

void TstNumber::roundTo() {
    QFETCH(double, value);
    QFETCH(std::optional<std::int32_t>, expected32);
    QFETCH(std::optional<std::int32_t>, expected16);
    QCOMPARE(filter::roundToInt32(value), expected32);
    const std::optional<std::int16_t> r16 = filter::roundToInt16(value);
    QCOMPARE(r16.has_value(), expected16.has_value());
    if (r16)
        QCOMPARE(std::int32_t{*r16}, *expected16);
}

void TstNumber::wholeValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<std::int32_t>>("expected");
    using O = std::optional<std::int32_t>;
    const O none;

    QTest::newRow("1550") << "1550" << O(1550);
    QTest::newRow("15 50 nm") << "15 50 nm" << O(1550);
    QTest::newRow("15 50") << "15 50" << O(1550);
    QTest::newRow("1,550") << "1,550" << O(1);
    QTest::newRow("abc") << "abc" << O(0);
    QTest::newRow("empty") << "" << O(0);
    QTest::newRow("1.5e3") << "1.5e3" << O(1500);
    QTest::newRow("&H60E") << "&H60E" << O(1550);
    QTest::newRow("1550.5") << "1550.5" << O(1550);
    QTest::newRow("1551.5") << "1551.5" << O(1552);
    QTest::newRow("2.5") << "2.5" << O(2);
    QTest::newRow("3.5") << "3.5" << O(4);
    QTest::newRow("0.5") << "0.5" << O(0);
    QTest::newRow("-7") << "-7" << O(-7);
    QTest::newRow("3e10 fails") << "3e10" << none;
    QTest::newRow("int32 max") << "2147483647" << O(2147483647);
    QTest::newRow("int32 max + half fails") << "2147483647.5" << none;
    QTest::newRow("int32 max + 1 fails") << "2147483648" << none;
    QTest::newRow("int32 min") << "-2147483648" << O(std::numeric_limits<std::int32_t>::min());
    QTest::newRow("int32 min - half") << "-2147483648.5" << O(std::numeric_limits<std::int32_t>::min());
    QTest::newRow("int32 min - 1 fails") << "-2147483649" << none;
    QTest::newRow("hex int32 max") << "&H7FFFFFFF" << O(2147483647);
    QTest::newRow("hex above int32 fails, no wrap") << "&H80000000" << none;
    QTest::newRow("1e400 fails") << "1e400" << none;
}

void TstNumber::wholeValue() {
    QFETCH(QString, text);
    QFETCH(std::optional<std::int32_t>, expected);
    QCOMPARE(filter::wholeValue(text), expected);
}

void TstNumber::wholeValue16_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<std::int32_t>>("expected");
    using O = std::optional<std::int32_t>;
    const O none;

    QTest::newRow("3") << "3" << O(3);
    QTest::newRow("3 and blanks") << "3   " << O(3);
    QTest::newRow("2.5") << "2.5" << O(2);
    QTest::newRow("3.5") << "3.5" << O(4);
    QTest::newRow("COM3") << "COM3" << O(0);
    QTest::newRow("70000 fails") << "70000" << none;
    QTest::newRow("int16 max") << "32767" << O(32767);
    QTest::newRow("int16 max + half fails") << "32767.5" << none;
    QTest::newRow("int16 min") << "-32768" << O(-32768);
    QTest::newRow("int16 min - half") << "-32768.5" << O(-32768);
    QTest::newRow("int16 min - 1 fails") << "-32769" << none;
    QTest::newRow("hex int16 max") << "&H7FFF" << O(32767);
    QTest::newRow("hex FFFF fails, no wrap") << "&HFFFF" << none;
}

void TstNumber::wholeValue16() {
    QFETCH(QString, text);
    QFETCH(std::optional<std::int32_t>, expected);
    const std::optional<std::int16_t> actual = filter::wholeValue16(text);
    QCOMPARE(actual.has_value(), expected.has_value());
    if (actual)
        QCOMPARE(std::int32_t{*actual}, *expected);
}

void TstNumber::setLimit_data() {
    QTest::addColumn<int>("nType");
    QTest::addColumn<int>("nVal");
    QTest::addColumn<int>("swMin");
    QTest::addColumn<int>("swMax");
    QTest::addColumn<int>("expected");
    constexpr int lo = std::numeric_limits<std::int32_t>::min();
    constexpr int hi = std::numeric_limits<std::int32_t>::max();

    QTest::newRow("wave below") << int(filter::kWavelength) << 1500 << 1510 << 1589 << 1510;
    QTest::newRow("wave above") << int(filter::kWavelength) << 1600 << 1510 << 1589 << 1589;
    QTest::newRow("wave inside") << int(filter::kWavelength) << 1550 << 1510 << 1589 << 1550;
    QTest::newRow("wave at lower bound") << int(filter::kWavelength) << 1510 << 1510 << 1589 << 1510;
    QTest::newRow("wave at upper bound") << int(filter::kWavelength) << 1589 << 1510 << 1589 << 1589;
    QTest::newRow("wave just below") << int(filter::kWavelength) << 1509 << 1510 << 1589 << 1510;
    QTest::newRow("wave just above") << int(filter::kWavelength) << 1590 << 1510 << 1589 << 1589;
    QTest::newRow("wave from empty box") << int(filter::kWavelength) << 0 << 1510 << 1589 << 1510;
    QTest::newRow("wave int32 min") << int(filter::kWavelength) << lo << 1510 << 1589 << 1510;
    QTest::newRow("wave int32 max") << int(filter::kWavelength) << hi << 1510 << 1589 << 1589;
    QTest::newRow("wave, calibrated range") << int(filter::kWavelength) << 1500 << 1300 << 1700 << 1500;
    QTest::newRow("swapped, inside") << int(filter::kWavelength) << 1550 << 1600 << 1500 << 1500;
    QTest::newRow("swapped, below") << int(filter::kWavelength) << 1400 << 1600 << 1500 << 1500;
    QTest::newRow("swapped, above") << int(filter::kWavelength) << 1700 << 1600 << 1500 << 1500;
    QTest::newRow("swapped, int32 min") << int(filter::kWavelength) << lo << 1600 << 1500 << 1500;
    QTest::newRow("steps 0") << int(filter::kSteps) << 0 << 1510 << 1589 << 1;
    QTest::newRow("steps -7") << int(filter::kSteps) << -7 << 1510 << 1589 << 1;
    QTest::newRow("steps 1") << int(filter::kSteps) << 1 << 1510 << 1589 << 1;
    QTest::newRow("steps 30") << int(filter::kSteps) << 30 << 1510 << 1589 << 30;
    QTest::newRow("steps 31") << int(filter::kSteps) << 31 << 1510 << 1589 << 30;
    QTest::newRow("steps ignore wave limits") << int(filter::kSteps) << 1550 << 1510 << 1589 << 30;
    QTest::newRow("steps int32 min") << int(filter::kSteps) << lo << 1510 << 1589 << 1;
    QTest::newRow("steps int32 max") << int(filter::kSteps) << hi << 1510 << 1589 << 30;
    QTest::newRow("stay 0") << int(filter::kStayTime) << 0 << 1510 << 1589 << 1;
    QTest::newRow("stay 1") << int(filter::kStayTime) << 1 << 1510 << 1589 << 1;
    QTest::newRow("stay 150") << int(filter::kStayTime) << 150 << 1510 << 1589 << 150;
    QTest::newRow("stay 300") << int(filter::kStayTime) << 300 << 1510 << 1589 << 300;
    QTest::newRow("stay 301") << int(filter::kStayTime) << 301 << 1510 << 1589 << 300;
    QTest::newRow("stay negative") << int(filter::kStayTime) << -5 << 1510 << 1589 << 1;
    QTest::newRow("kind 5, 77") << 5 << 77 << 1510 << 1589 << 77;
    QTest::newRow("kind 5, below every range") << 5 << -1000 << 1510 << 1589 << -1000;
    QTest::newRow("kind 5, int32 min") << 5 << lo << 1510 << 1589 << lo;
    QTest::newRow("kind 5, int32 max") << 5 << hi << 1510 << 1589 << hi;
    QTest::newRow("kind -1") << -1 << 0 << 1510 << 1589 << 0;
    QTest::newRow("kind 3") << 3 << 5000 << 1510 << 1589 << 5000;
}

void TstNumber::setLimit() {
    QFETCH(int, nType);
    QFETCH(int, nVal);
    QFETCH(int, swMin);
    QFETCH(int, swMax);
    QFETCH(int, expected);
    QCOMPARE(filter::setLimit(nType, nVal, swMin, swMax), expected);
}

QTEST_APPLESS_MAIN(TstNumber)
#include "tst_number.moc"
