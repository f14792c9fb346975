// SPDX-License-Identifier: MIT
// One filter for many clients, on a real pseudo-terminal: each operation's bytes at the device and its
// outcome, operations from several clients and threads that never mix, a device that goes away and comes
// back, and an end that lets the operation under way finish.

#include "service/instrument.h"
#include "support/ptydevice.h"
#include "system/programdir.h"

#include <QSignalSpy>
#include <QtTest>
#include <thread>

using service::Instrument;
using service::Outcome;
using testsupport::PtyDevice;

namespace {

constexpr int kWaitMs = 5000;

// An instrument on the device linked as com1 in a folder of its own.
struct Bench {
    QTemporaryDir dir;
    PtyDevice device{dir.path(), 1};
    settings::SettingsFile settings{dir.filePath(QStringLiteral("merovask.ini"))};
    std::unique_ptr<Instrument> instrument;

    Bench() {
        platform::setProgramDirForTests(dir.path());
        instrument = std::make_unique<Instrument>(QStringLiteral("1"), QString(), settings);
        instrument->open();
        QTRY_VERIFY_WITH_TIMEOUT(instrument->state() == service::State::On, kWaitMs);
    }
    ~Bench() {
        instrument.reset();
        platform::setProgramDirForTests({});
    }
    QStringList commands() const {
        QStringList out;
        for (const auto& command : device.commands()) {
            out << QString::fromLatin1(command.text);
        }
        return out;
    }
};

// Runs one request and waits for its outcome.
Outcome ask(const std::function<void(Instrument::Done)>& request) {
    std::optional<Outcome> outcome;
    request([&outcome](const Outcome& o) { outcome = o; });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 20000); }();
    return outcome.value_or(Outcome{Outcome::End::Stopped, {}, {}, {}, false});
}

calibration::CalTable tenRows() {
    calibration::CalTable table;
    for (int k = 0; k < 10; ++k) {
        table.calTable[std::size_t(k)] = std::int16_t(100 + k);
    }
    table.calMin = 1526;
    table.calMax = 1580;
    return table;
}

} // namespace

class TestInstrument : public QObject {
    Q_OBJECT

  private slots:
    void operations_data();
    void operations();
    void clientsNeverMix();
    void portGoneAndBack();
    void finishLetsTheUploadEnd();
};

void TestInstrument::operations_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<QStringList>("commands"); // at the device
    QTest::addColumn<int>("end");
    QTest::addColumn<QList<int>>("values"); // what went out
    QTest::addColumn<bool>("limited");
    QTest::addColumn<int>("replies");
    const int done = int(Outcome::End::Done);
    // Whole nanometres: a half goes to the even neighbour, which is no limiting.
    QTest::newRow("tune") << "tune 1550.5" << QStringList{"C1550"} << done << QList<int>{1550} << false << 1;
    QTest::newRow("tune above the range")
        << "tune 1600" << QStringList{"C1589"} << done << QList<int>{1589} << true << 1;
    QTest::newRow("tune in range") << "tune 1520" << QStringList{"C1520"} << done << QList<int>{1520} << false
                                   << 1;
    QTest::newRow("up 45") << "up 45" << QStringList{"I30"} << done << QList<int>{30} << true << 1;
    QTest::newRow("down 2") << "down 2" << QStringList{"D2"} << done << QList<int>{2} << false << 1;
    QTest::newRow("setting") << "setting 1400 1560 500" << QStringList{"L1510", "H1560", "T300"} << done
                             << QList<int>{1510, 1560, 300} << true << 3;
    QTest::newRow("scan 0") << "scan 0" << QStringList{"S1"} << done << QList<int>{1} << true << 1;
    QTest::newRow("output 3") << "output 3" << QStringList{"C"} << done << QList<int>{3} << false << 1;
    QTest::newRow("output 5") << "output 5" << QStringList{} << int(Outcome::End::OutOfRange) << QList<int>{}
                              << true << 0;
    QTest::newRow("date") << "date" << QStringList{"W103", "W104", "W105"} << done << QList<int>{} << false
                          << 3;
    QTest::newRow("raw") << "raw v" << QStringList{"v"} << done << QList<int>{} << false << 1;
    QTest::newRow("raw get") << "raw get" << QStringList{"W103", "W104", "W105"} << done << QList<int>{}
                             << false << 3;
}

// Each operation is the panel's (tst_line times its pauses): its commands and limits, then the wait for the
// answer.
void TestInstrument::operations() {
    QFETCH(QString, request);
    QFETCH(QStringList, commands);
    QFETCH(int, end);
    QFETCH(QList<int>, values);
    QFETCH(bool, limited);
    QFETCH(int, replies);
    Bench bench;
    const QStringList words = request.split(QLatin1Char(' '));
    const auto number = [&](int i) { return words.value(i).toDouble(); };
    const Outcome outcome = ask([&](Instrument::Done done) {
        Instrument& i = *bench.instrument;
        if (words[0] == "tune") {
            i.tune(number(1), done);
        } else if (words[0] == "up" || words[0] == "down") {
            i.step(words[0] == "up", number(1), done);
        } else if (words[0] == "setting") {
            i.scanSetting(number(1), number(2), number(3), done);
        } else if (words[0] == "scan") {
            i.scan(number(1), done);
        } else if (words[0] == "output") {
            i.selectOutput(words[1].toInt(), done);
        } else if (words[0] == "date") {
            i.readDate(done);
        } else {
            i.sendRaw(words[1], done);
        }
    });
    QCOMPARE(int(outcome.end), end);
    QVERIFY(bench.device.sync());
    QCOMPARE(bench.commands(), commands);
    QCOMPARE(outcome.values, values);
    QCOMPARE(outcome.limited, limited);
    QCOMPARE(outcome.replies.size(), replies);
    QCOMPARE(bench.instrument->state(), service::State::On);
}

// Operations of two clients on this thread and one on another thread, asked for while "Setting" waits
// between its commands: each runs whole, in the order asked, and the other thread's call returns its outcome.
void TestInstrument::clientsNeverMix() {
    Bench bench;
    Instrument& instrument = *bench.instrument;
    QStringList ends;
    const auto note = [&ends](const char* who) { return [&ends, who](const Outcome&) { ends << who; }; };
    instrument.scanSetting(1520, 1560, 5, note("setting"));
    QTimer::singleShot(100, [&] {
        instrument.tune(1530, note("tune"));
        instrument.upload(tenRows(), 10, note("upload"));
    });
    std::optional<Outcome> fromThread;
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        fromThread = instrument.call([](Instrument& i, Instrument::Done done) { i.step(true, 2, done); });
    });
    QTRY_COMPARE_WITH_TIMEOUT(ends.size(), 3, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(fromThread.has_value(), 5000);
    other.join();

    QCOMPARE(ends, (QStringList{"setting", "tune", "upload"}));
    // A busy machine's device thread may still be reading the last command when its outcome is in.
    QVERIFY(bench.device.waitForCommands(4 + 30 + 1, kWaitMs));
    QCOMPARE(bench.commands().mid(0, 4), (QStringList{"L1520", "H1560", "T5", "C1530"}));
    QCOMPARE(bench.commands().size(), 4 + 30 + 1);
    QCOMPARE(bench.commands().last(), QStringLiteral("I2"));
    QCOMPARE(fromThread->values, QList<int>{2});
    // The upload's new range holds for what follows, and the wavelength in force moved with the step.
    QCOMPARE(instrument.limits().swMin, 1526);
    QCOMPARE(instrument.sent().wavelength, std::optional<std::int32_t>(1532));
    QCOMPARE(bench.settings.limits().swMax, 1580);
}

// A device that goes away: operations fail at once, the port is opened again every 2 s, and once the device
// is back the instrument is ready again without anyone asking.
void TestInstrument::portGoneAndBack() {
    Bench bench;
    Instrument& instrument = *bench.instrument;
    QSignalSpy logged(&instrument, &Instrument::logged);
    bench.device.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(instrument.state(), service::State::Fault, kWaitMs);
    QCOMPARE(ask([&](Instrument::Done done) { instrument.tune(1550, done); }).end, Outcome::End::NoPort);

    bench.device.reopen();
    QTRY_COMPARE_WITH_TIMEOUT(instrument.state(), service::State::On, kWaitMs);
    QCOMPARE(ask([&](Instrument::Done done) { instrument.tune(1550, done); }).end, Outcome::End::Done);
    QCOMPARE(bench.commands().last(), QStringLiteral("C1550"));
    // Gone, then back: a line each, and at most one more for why the tries between failed.
    QVERIFY2(logged.size() >= 2 && logged.size() <= 3, qPrintable(QString::number(logged.size())));
    QVERIFY(logged.first().first().toString().contains(QStringLiteral("went away")));
    QVERIFY(logged.last().first().toString().contains(QStringLiteral("ready")));
}

// The end waits for the operation under way: an upload goes out whole; what was queued behind it is stopped.
void TestInstrument::finishLetsTheUploadEnd() {
    Bench bench;
    Instrument& instrument = *bench.instrument;
    std::optional<Outcome> upload, queued;
    instrument.upload(tenRows(), 10, [&](const Outcome& o) { upload = o; });
    instrument.tune(1550, [&](const Outcome& o) { queued = o; });
    bool finished = false;
    QTimer::singleShot(300, [&] { instrument.finish([&] { finished = true; }); });
    QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
    QCOMPARE(upload->end, Outcome::End::Done);
    QCOMPARE(queued->end, Outcome::End::Stopped);
    QCOMPARE(bench.commands().size(), 30);
}

QTEST_MAIN(TestInstrument)
#include "tst_instrument.moc"
