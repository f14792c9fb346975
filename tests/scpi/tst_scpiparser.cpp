// SPDX-License-Identifier: MIT
// The SCPI language without a socket or a line: messages framed from a byte stream, program messages read
// into calls by the header tree and its path, parameters with units and MIN/MAX/DEF, the status registers
// and the error queue, and the forms of the answers.

#include "parser/framer.h"
#include "parser/status.h"
#include "parser/tree.h"
#include "parser/values.h"

#include <QtTest>

using namespace scpi;

namespace {

QByteArray header(Command command) {
    for (const Entry& entry : entries()) {
        if (entry.command == command) {
            return entry.header;
        }
    }
    return "?";
}

QByteArray shown(const Param& p) {
    switch (p.kind) {
    case Param::Kind::Number:
        return QByteArray::number(p.number, 'g', 12) + p.suffix;
    case Param::Kind::Character:
        return "C:" + p.data;
    case Param::Kind::String:
        return "S:" + p.data;
    case Param::Kind::Block:
        return "B:" + p.data;
    case Param::Kind::Expression:
        return "E:" + p.data;
    }
    return {};
}

// "WAVelength? C:MIN | *OPC", and the error's number last.
QString shown(const Program& program) {
    QByteArrayList calls;
    for (const Call& call : program.calls) {
        QByteArray text = header(call.command) + (call.unit.query ? "?" : "");
        for (const Param& p : call.unit.params) {
            text += ' ' + shown(p);
        }
        calls << text;
    }
    QString out = QString::fromLatin1(calls.join(" | "));
    if (program.error) {
        out += QStringLiteral(" ! %1").arg(int(program.error->code));
    }
    return out;
}

Param firstParam(const QByteArray& text) {
    const Lexed lexed = lex("X " + text);
    return lexed.units.isEmpty() || lexed.units[0].params.isEmpty() ? Param{} : lexed.units[0].params[0];
}

} // namespace

class TestScpiParser : public QObject {
    Q_OBJECT

  private slots:
    void program_data();
    void program();
    void values_data();
    void values();
    void framing_data();
    void framing();
    void status_data();
    void status();
    void answers();
};

void TestScpiParser::program_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("engineering");
    QTest::addColumn<QString>("calls");
    const auto row = [](const char* name, const QByteArray& message, const char* calls,
                        bool engineering = false) {
        QTest::newRow(name) << message << engineering << QString::fromLatin1(calls);
    };
    row("empty", "", "");
    row("blanks only", " \t\r", "");
    row("common query", "*IDN?", "*IDN?");
    row("any case", "*idn?;wAvElEnGtH 1550", "*IDN? | WAVelength 1550");
    row("short form", "WAV 1550", "WAVelength 1550");
    row("neither form", "WAVE 1550", " ! -113");
    row("optional node left out", "WAV:STEP 5", "WAVelength:STEP[:INCRement] 5");
    row("optional node given", "wav:step:incr?;INCREMENT 3",
        "WAVelength:STEP[:INCRement]? | WAVelength:STEP[:INCRement] 3");
    row("path kept", "WAV:SWE:STAR 1520;STOP 1560;DWEL 500 MS",
        "WAVelength:SWEep:STARt 1520 | WAVelength:SWEep:STOP 1560 | WAVelength:SWEep:DWELl 500MS");
    row("common commands leave the path", "WAV:SWE:STAR 1;*OPC;STOP 2",
        "WAVelength:SWEep:STARt 1 | *OPC | WAVelength:SWEep:STOP 2");
    row("colon to the root", "WAV:SWE:STEP 3;:WAV:SWE;:WAV UP",
        "WAVelength:SWEep:STEP 3 | WAVelength:SWEep[:IMMediate] | WAVelength C:UP");
    row("path not reset by the next unit", "WAV:SWE:STAR 1;WAV 1550", "WAVelength:SWEep:STARt 1 ! -113");
    row("path after an optional node", "SYST:ERR?;VERS?", "SYSTem:ERRor[:NEXT]? | SYSTem:VERSion?");
    row("path after a given optional node", "SYST:ERR:NEXT?;COUN?",
        "SYSTem:ERRor[:NEXT]? | SYSTem:ERRor:COUNt?");
    row("blanks around separators", "  *RST ; *CLS  ;WAV  1 ,\t", "*RST | *CLS ! -102");
    row("trailing separator", "*RST;", "*RST");
    row("query with bound", "WAV? MIN;:FREQ? max", "WAVelength? C:MIN | FREQuency? C:MAX");
    row("suffix apart", "WAV 1550 NM", "WAVelength 1550NM");
    row("exponent and sign", "WAV +1.55E-6M;:FREQ 193.4thz", "WAVelength 1.55e-06M | FREQuency 193.4THZ");
    row("leading point", "WAV:SWE:DWEL .5", "WAVelength:SWEep:DWELl 0.5");
    row("hexadecimal", "*ESE #H24;*SRE #b101;*ESE #q17", "*ESE 36 | *SRE 5 | *ESE 15");
    row("string, quotes doubled", "DIAG:SEND? 'it''s;x'", "DIAGnostic:SEND? S:it's;x", true);
    row("double-quoted string", "DIAG:SEND? \"a\"\"b\"", "DIAGnostic:SEND? S:a\"b", true);
    row("engineering only", "DIAG:SEND? \"v\"", " ! -113");
    row("block", "CAL:DATA #15a\nb;c;*OPC", "CALibration:DATA B:a\nb;c | *OPC", true);
    row("indefinite block", "CAL:DATA #0abc;d", "CALibration:DATA B:abc;d", true);
    row("expression", "ROUT (@3)", "ROUTe[:CHANnel] E:@3");
    row("setting form only", "WAV:SWE?", " ! -113");
    row("query form only", "*IDN", " ! -113");
    row("stops at the first fault", "WAV 1;BAD;WAV 2", "WAVelength 1 ! -113");
    row("missing separator", "WAV 1550 1560", " ! -103");
    row("header separator", "WAV,1550", " ! -111");
    row("empty node", "WAV:", " ! -102");
    row("empty unit", "*RST;;*CLS", "*RST ! -102");
    row("empty parameter", "WAV ,1", " ! -102");
    row("mnemonic too long", "WAVELENGTHXYZ 1", " ! -112");
    row("invalid character", "WAV \x80", " ! -101");
    row("number then junk", "WAV 1550#", " ! -121");
    row("bad suffix", "WAV 15x0", " ! -131");
    row("exponent too large", "WAV 1E32001", " ! -123");
    row("too many digits", "WAV " + QByteArray(256, '1'), " ! -124");
    row("character data too long", "WAV ABCDEFGHIJKLM", " ! -144");
    row("unterminated string", "DIAG:SEND? 'abc", " ! -151", true);
    row("short block", "CAL:DATA #15abc", " ! -161", true);
    row("bad block length", "CAL:DATA #3ab", " ! -161", true);
    row("unterminated expression", "ROUT (@3", " ! -171");
    row("bad hexadecimal digit", "*ESE #HG", " ! -121");
}

void TestScpiParser::program() {
    QFETCH(QByteArray, message);
    QFETCH(bool, engineering);
    QFETCH(QString, calls);
    QCOMPARE(shown(parse(message, engineering)), calls);
}

void TestScpiParser::values_data() {
    QTest::addColumn<QByteArray>("param");
    QTest::addColumn<int>("quantity");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("error");
    const auto row = [](const QByteArray& param, Quantity q, double value,
                        ErrorCode error = ErrorCode::NoError) {
        QTest::newRow(param.constData()) << param << int(q) << value << int(error);
    };
    const Quantity nm = Quantity::Wavelength;
    const Quantity thz = Quantity::Frequency;
    row("1550", nm, 1550);
    row("1550NM", nm, 1550);
    row("1.55E-6M", nm, 1550);
    row("1.55um", nm, 1550);
    row("0.00155MM", nm, 1550);
    row("193.4THZ", thz, 193.4);
    row("193400GHZ", thz, 193.4);
    row("193400000MHZ", thz, 193.4);
    row("193400000MAHZ", thz, 193.4);
    row("1.934E14HZ", thz, 193.4);
    row("500MS", Quantity::Time, 0.5);
    row("0.5S", Quantity::Time, 0.5);
    row("#H1F", Quantity::Count, 31);
    row("MIN", nm, 1510);
    row("maximum", nm, 1589);
    row("DEF", nm, 1550);
    row("UP", nm, 0, ErrorCode::InvalidCharacterData);
    row("5NM", Quantity::Count, 0, ErrorCode::SuffixNotAllowed);
    row("5HZ", nm, 0, ErrorCode::InvalidSuffix);
    row("5XM", nm, 0, ErrorCode::InvalidSuffix);
    row("'5'", nm, 0, ErrorCode::StringNotAllowed);
    row("#15abcde", nm, 0, ErrorCode::BlockNotAllowed);
    row("(@1)", nm, 0, ErrorCode::ExpressionNotAllowed);
}

void TestScpiParser::values() {
    QFETCH(QByteArray, param);
    QFETCH(int, quantity);
    QFETCH(double, value);
    QFETCH(int, error);
    const auto got = numeric(firstParam(param), Quantity(quantity), Bounds{1510, 1589, 1550});
    if (const auto* fault = std::get_if<Error>(&got)) {
        QCOMPARE(int(fault->code), error);
    } else {
        QCOMPARE(error, 0);
        QVERIFY2(qAbs(std::get<double>(got) - value) < 1e-9 * qMax(1.0, value),
                 qPrintable(QString::number(std::get<double>(got), 'g', 17)));
    }
    // Without a default, DEF is no value.
    if (param == "DEF") {
        QCOMPARE(int(std::get<Error>(numeric(firstParam(param), Quantity(quantity), Bounds{1, 2, {}})).code),
                 int(ErrorCode::IllegalValue));
    }
}

void TestScpiParser::framing_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArrayList>("messages"); // "!<code>" for one dropped
    const QByteArray big(Framer::kMaxBlock + 1, '\n');
    QTest::newRow("LF and CR LF") << QByteArray("A\nB\r\nC") << QByteArrayList{"A", "B"};
    QTest::newRow("a lone CR stays") << QByteArray("A\rB\n") << QByteArrayList{"A\rB"};
    QTest::newRow("LF inside a block")
        << QByteArray("D #19ab\ncd\r\nef\r\n") << QByteArrayList{"D #19ab\ncd\r\nef"};
    QTest::newRow("CR ending a block is data") << QByteArray("D #12\r\r\n") << QByteArrayList{"D #12\r\r"};
    QTest::newRow("# inside quotes") << QByteArray("X 'a#5',\"#3\"\n") << QByteArrayList{"X 'a#5',\"#3\""};
    QTest::newRow("LF ends a string") << QByteArray("X 'a\nY\n") << QByteArrayList{"X 'a", "Y"};
    QTest::newRow("indefinite block to the end")
        << QByteArray("D #0a\rb\r\nY\n") << QByteArrayList{"D #0a\rb\r", "Y"};
    QTest::newRow("NUL bytes") << QByteArray("\0\0\n", 3) << QByteArrayList{QByteArray("\0\0", 2)};
    QTest::newRow("line of 4 KiB") << QByteArray(Framer::kMaxLine, 'A') + "\n"
                                   << QByteArrayList{QByteArray(Framer::kMaxLine, 'A')};
    QTest::newRow("line too long") << QByteArray(Framer::kMaxLine + 1, 'A') + "\n*IDN?\n"
                                   << QByteArrayList{"!-363", "*IDN?"};
    QTest::newRow("largest block") << "D #565536" + QByteArray(Framer::kMaxBlock, '\n') + "\n"
                                   << QByteArrayList{"D #565536" + QByteArray(Framer::kMaxBlock, '\n')};
    QTest::newRow("block too large, skipped by its length") << "D #565537" + big + "\n*IDN?\n"
                                                            << QByteArrayList{"!-223", "*IDN?"};
    QTest::newRow("indefinite block too large") << "D #0" + QByteArray(Framer::kMaxBlock + 1, 'x') + "\nY\n"
                                                << QByteArrayList{"!-223", "Y"};
    QTest::newRow("short block length") << QByteArray("D #3a\nY\n") << QByteArrayList{"D #3a", "Y"};
}

// The same messages whether the stream comes whole or a byte at a time.
void TestScpiParser::framing() {
    QFETCH(QByteArray, stream);
    QFETCH(QByteArrayList, messages);
    for (const qsizetype piece : {stream.size(), qsizetype(1)}) {
        Framer framer;
        QByteArrayList got;
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            for (const Framer::Message& m :
                 framer.feed(QByteArrayView(stream).sliced(at, qMin(piece, stream.size() - at)))) {
                got << (m.error ? "!" + QByteArray::number(int(m.error->code)) : m.text);
            }
        }
        QCOMPARE(got, messages);
        QVERIFY(framer.held() <= Framer::kMaxLine);
    }
}

void TestScpiParser::status_data() {
    QTest::addColumn<QList<int>>("pushed");
    QTest::addColumn<int>("eventEnable");
    QTest::addColumn<int>("serviceEnable");
    QTest::addColumn<int>("statusByte");
    QTest::addColumn<int>("events");
    QTest::addColumn<QList<int>>("queue"); // as SYSTem:ERRor? reads it, to the first 0
    QTest::newRow("nothing") << QList<int>{} << 255 << 255 << 0 << 0 << QList<int>{};
    QTest::newRow("command error") << QList<int>{-113} << 0 << 0 << 4 << 0x20 << QList<int>{-113};
    QTest::newRow("enabled into the summary")
        << QList<int>{-113} << 0x20 << 0 << 4 + 32 << 0x20 << QList<int>{-113};
    QTest::newRow("and into the master summary")
        << QList<int>{-222} << 0x10 << 0x20 << 4 + 32 + 64 << 0x10 << QList<int>{-222};
    QTest::newRow("not enabled") << QList<int>{-222} << 0x20 << 0x20 << 4 << 0x10 << QList<int>{-222};
    QTest::newRow("each class its bit") << QList<int>{-102, -240, -363, -350} << 0 << 4 << 4 + 64 << 0x38
                                        << QList<int>{-102, -240, -363, -350};
    QList<int> many, kept;
    for (int i = 0; i < 25; ++i) {
        many << -200 - i;
    }
    kept = many.mid(0, int(Status::kQueueSize) - 1) << -350;
    QTest::newRow("overflow keeps the oldest") << many << 0 << 0 << 4 << 0x18 << kept;
}

void TestScpiParser::status() {
    QFETCH(QList<int>, pushed);
    QFETCH(int, eventEnable);
    QFETCH(int, serviceEnable);
    QFETCH(int, statusByte);
    QFETCH(int, events);
    QFETCH(QList<int>, queue);
    Status status;
    status.eventEnable = std::uint8_t(eventEnable);
    status.serviceEnable = std::uint8_t(serviceEnable & ~Status::MasterSummary);
    for (const int code : pushed) {
        status.push({ErrorCode(code), {}});
    }
    QCOMPARE(int(status.statusByte()), statusByte);
    QCOMPARE(int(status.count()), queue.size());
    QList<int> read;
    for (Error e = status.next(); e.code != ErrorCode::NoError; e = status.next()) {
        read << int(e.code);
    }
    QCOMPARE(read, queue);
    QCOMPARE(int(status.takeEvents()), events);
    QCOMPARE(int(status.takeEvents()), 0);
    status.push({ErrorCode::Syntax, {}});
    status.operationComplete();
    status.clear();
    QCOMPARE(int(status.statusByte()), 0);
    QCOMPARE(int(status.takeEvents()), 0);
}

void TestScpiParser::answers() {
    QCOMPARE(number(1550), QByteArray("1550"));
    QCOMPARE(number(-5), QByteArray("-5"));
    QCOMPARE(number(0.1 * 3), QByteArray("0.3"));
    QCOMPARE(number(299792458.0 / 1550 * 1e-3), QByteArray("193.414489"));
    QCOMPARE(number(kNotANumber), QByteArray("9.91E+37"));
    QCOMPARE(quoted("a\"b"), QByteArray("\"a\"\"b\""));
    QCOMPARE(errorResponse({}), QByteArray("0,\"No error\""));
    QCOMPARE(errorResponse({ErrorCode::OutOfRange, QStringLiteral("x \"y\"")}),
             QByteArray("-222,\"Data out of range;x \"\"y\"\"\""));
    // SCPI's limit of 255 characters for the description, before quotes are doubled.
    const QByteArray longest = errorResponse({ErrorCode::Hardware, QString(300, QLatin1Char('x'))});
    QCOMPARE(longest.size(), qsizetype(QByteArray("-240,\"\"").size() + 255));
}

QTEST_MAIN(TestScpiParser)
#include "tst_scpiparser.moc"
