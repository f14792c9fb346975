// SPDX-License-Identifier: MIT
// The operations as sequences on a recording line, without a window or a port: which commands go out for
// which typed values, what the boxes show afterwards, the console's "get", the scan set-up's pauses and
// disarmed time-outs, the calibration upload with its reply check and stamp, and the auto cycle tick by tick.

#include "calibration/upload.h"
#include "device/commands.h"
#include "operations/autocycle.h"
#include "operations/console.h"
#include "operations/gate.h"
#include "support/recordingline.h"
#include "system/clock.h"

#include <QRegularExpression>
#include <QtTest>

using testsupport::RecordingLine;

namespace {

// A row's steps, " | " between them.
QStringList steps(const char* text) {
    return QString::fromLatin1(text).split(QStringLiteral(" | "), Qt::SkipEmptyParts);
}

// Runs an operation given as words ("send 1600", "setting 1400 1600 500", "console get") and returns the
// boxes it rewrote.
QStringList run(RecordingLine& line, const QString& operation) {
    QStringList words = operation.split(QLatin1Char(' '));
    const QString name = words.takeFirst();
    std::vector<filter::TextField> boxes;
    for (const QString& word : words) {
        boxes.emplace_back(word == QLatin1String("_") ? QString() : word);
    }
    if (name == QLatin1String("send")) {
        filter::tune(line, boxes[0], filter::kWavelength, &devlink::cmd::wavelength);
    } else if (name == QLatin1String("up")) {
        filter::tune(line, boxes[0], filter::kSteps, &devlink::cmd::stepUp);
    } else if (name == QLatin1String("down")) {
        filter::tune(line, boxes[0], filter::kSteps, &devlink::cmd::stepDown);
    } else if (name == QLatin1String("calibrate")) {
        filter::calibrate(line);
    } else if (name == QLatin1String("setting")) {
        filter::scanSetting(line, boxes[0], boxes[1], boxes[2]);
    } else if (name == QLatin1String("scan")) {
        filter::scan(line, boxes[0].text());
    } else if (name == QLatin1String("switch")) {
        filter::selectOutput(line, boxes[0].text().toInt());
    } else if (name == QLatin1String("console")) {
        devlink::console(line, words.join(QLatin1Char(' ')).replace(QLatin1Char('_'), QLatin1Char(' ')));
        return {};
    }
    QStringList texts;
    for (const filter::TextField& box : boxes) {
        texts << box.text();
    }
    return texts;
}

QList<int> counting(int n) {
    QList<int> values;
    for (int k = 0; k < n; ++k) {
        values << 100 + k;
    }
    return values;
}

// The 10-row table of the upload tests, from 1580 down to 1526.
calibration::CalTable tenRows(const QList<int>& values) {
    calibration::CalTable table;
    for (int k = 0; k < values.size(); ++k) {
        table.calTable[std::size_t(k)] = std::int16_t(values[k]);
    }
    table.calMin = 1526;
    table.calMax = 1580;
    return table;
}

QStringList uploadCommands(const QList<int>& values, int min, int max) {
    QStringList out;
    for (int k = 0; k < values.size(); ++k) {
        out << QStringLiteral("X%1").arg(k) << QStringLiteral("Y%1").arg(values[k]);
    }
    return out << "X101" << QStringLiteral("Y%1").arg(min) << "X102" << QStringLiteral("Y%1").arg(max)
               << "X103"
               << "Y2027"
               << "X104"
               << "Y0305"
               << "X105"
               << "Y1407";
}

} // namespace

class TestOperations : public QObject {
    Q_OBJECT

  private slots:
    void operations_data();
    void operations();
    void upload_data();
    void upload();
    void uploadLosesPort_data();
    void uploadLosesPort();
    void gateDuringUpload_data();
    void gateDuringUpload();
    void autoCycle_data();
    void autoCycle();
};

// Each operation with the values typed into its boxes: the steps on the line and the boxes afterwards.
void TestOperations::operations_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("stopAfterWaits");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("boxes");

    const auto row = [](const char* name, const char* operation, const char* log,
                        const QStringList& boxes = {},
                        int stop = -1) { QTest::newRow(name) << operation << stop << steps(log) << boxes; };
    row("send above max", "send 1600", "show C1589 | C1589, | arm | clear", {"1589"});
    row("send below min", "send 1500", "show C1510 | C1510, | arm | clear", {"1510"});
    row("send half to even", "send 1550.5", "show C1550 | C1550, | arm | clear", {"1550"});
    row("send half up to even", "send 1551.5", "show C1552 | C1552, | arm | clear", {"1552"});
    row("send letters", "send abc", "show C1510 | C1510, | arm | clear", {"1510"});
    row("send empty", "send _", "show C1510 | C1510, | arm | clear", {"1510"});
    row("send too large for 32 bits", "send 3e10", "show C1510 | C1510, | arm | clear", {"1510"});
    row("send comma ends the number", "send 1,550", "show C1510 | C1510, | arm | clear", {"1510"});
    row("send hexadecimal", "send &H60E", "show C1550 | C1550, | arm | clear", {"1550"});
    row("send exponent", "send 1.5e3", "show C1510 | C1510, | arm | clear", {"1510"});
    row("increase 45", "up 45", "show I30 | I30, | arm | clear", {"30"});
    row("increase -7", "up -7", "show I1 | I1, | arm | clear", {"1"});
    row("increase 3.5", "up 3.5", "show I4 | I4, | arm | clear", {"4"});
    row("increase 3e10", "up 3e10", "show I1 | I1, | arm | clear", {"1"});
    row("decrease 0", "down 0", "show D1 | D1, | arm | clear", {"1"});
    row("decrease 2.5", "down 2.5", "show D2 | D2, | arm | clear", {"2"});
    row("calibration", "calibrate", "show Z | Z, | arm | clear");
    // The span box keeps what was typed; only the command carries the limited value.
    row("scan 0", "scan 0", "show S1 | S1, | arm | clear", {"0"});
    row("scan 45.5", "scan 45.5", "show S30 | S30, | arm | clear", {"45.5"});
    row("switch 3", "switch 2", "show C | C, | arm | clear", {"2"});
    row("switch 4", "switch 3", "show D | D, | arm | clear", {"3"});

    // Setting's log for the limited start, end and stay time.
    const auto settingLog = [](const char* start, const char* end, const char* stay) {
        return QStringLiteral(
                   "show L%1 | L%1, | arm | clear | disarm | wait 500 | show H%2 | H%2, | arm | clear | "
                   "disarm | wait 500 | show T%3 | T%3, | arm | clear")
            .arg(QLatin1String(start), QLatin1String(end), QLatin1String(stay))
            .toLatin1();
    };
    row("setting outside the range", "setting 1400 1600 1", settingLog("1510", "1589", "1").constData(),
        {"1510", "1589", "1"});
    row("setting stay 0", "setting 1510 1589 0", settingLog("1510", "1589", "1").constData(),
        {"1510", "1589", "1"});
    row("setting stay 500", "setting 1510 1589 500", settingLog("1510", "1589", "300").constData(),
        {"1510", "1589", "300"});
    row("setting stay 2.5", "setting 1510 1589 2.5", settingLog("1510", "1589", "2").constData(),
        {"1510", "1589", "2"});
    row("setting stay too large takes the end", "setting 1510 1589 3e10",
        settingLog("1510", "1589", "300").constData(), {"1510", "1589", "300"});
    row("setting start too large starts from 0", "setting 3e10 1589 1",
        settingLog("1510", "1589", "1").constData(), {"1510", "1589", "1"});
    row("setting start above end unchanged", "setting 1580 1520 1",
        settingLog("1580", "1520", "1").constData(), {"1580", "1520", "1"});
    row("setting end too large takes the start", "setting 1520 3e10 1",
        settingLog("1520", "1520", "1").constData(), {"1520", "1520", "1"});
    row("setting letters", "setting x y z", settingLog("1510", "1510", "1").constData(),
        {"1510", "1510", "1"});
    row("setting stopped in its first pause", "setting 1510 1589 1",
        "show L1510 | L1510, | arm | clear | disarm | wait 500", {"1510", "1589", "1"}, 1);

    row("console get", "console get",
        "show get | W103, | clear | wait 50 | W104, | clear | wait 50 | W105, | clear");
    row("console get stopped", "console get", "show get | W103, | clear | wait 50", {}, 1);
    row("console get with a blank", "console get_", "show get  | get , | arm | clear");
    row("console blanks around", "console _v_", "show  v  | v , | arm | clear");
    row("console empty", "console", "show  | , | arm | clear");
}

void TestOperations::operations() {
    QFETCH(QString, operation);
    QFETCH(int, stopAfterWaits);
    QFETCH(QStringList, log);
    QFETCH(QStringList, boxes);
    RecordingLine line;
    line.stopAfterWaits = stopAfterWaits;
    const QStringList after = run(line, operation);
    QCOMPARE(line.log, log);
    if (!boxes.isEmpty()) {
        QCOMPARE(after, boxes);
    }
}

void TestOperations::upload_data() {
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QString>("answered"); // which commands the device answers: all, none, or one by number
    QTest::addColumn<int>("stopAfterWaits");
    QTest::addColumn<int>("end");
    QTest::addColumn<QStringList>("commands");

    const QList<int> values{5, -12, 300, 0, 32767, -32768, 7, 8, 9, 10};
    const QStringList table = uploadCommands(values, 1526, 1580).mid(0, 20);
    const int done = int(calibration::UploadEnd::Done);
    const int none = int(calibration::UploadEnd::NoResponse);
    const int stopped = int(calibration::UploadEnd::Stopped);
    QTest::newRow("ten rows") << values << "all" << -1 << done << uploadCommands(values, 1526, 1580);
    QTest::newRow("silent device") << values << "none" << -1 << none << table;
    QTest::newRow("only the last table command answered")
        << values << "20" << -1 << done << uploadCommands(values, 1526, 1580);
    QTest::newRow("only the first answered") << values << "1" << -1 << none << table;
    QTest::newRow("stopped in the table") << values << "all" << 3 << stopped << table.mid(0, 3);
    QTest::newRow("stopped before the stamp")
        << values << "all" << 25 << stopped << uploadCommands(values, 1526, 1580).mid(0, 24);
}

// The table, the reply check, the range (stored at the end once it is sent) and the stamp of one reading of
// the clock.
void TestOperations::upload() {
    QFETCH(QList<int>, values);
    QFETCH(QString, answered);
    QFETCH(int, stopAfterWaits);
    QFETCH(int, end);
    QFETCH(QStringList, commands);
    platform::setNowForTests([] { return QDateTime(QDate(2027, 3, 5), QTime(14, 7, 9)); });
    const auto clock = qScopeGuard([] { platform::setNowForTests({}); });

    const calibration::CalTable table = tenRows(values);
    RecordingLine line;
    line.stopAfterWaits = stopAfterWaits;
    int count = 0;
    line.device = [&](const QString&) {
        ++count;
        const bool answers = answered == "all" || QString::number(count) == answered;
        return answers ? QStringLiteral("OK ") : QString();
    };

    QTemporaryDir dir;
    const settings::SettingsFile file(dir.filePath(QStringLiteral("merovask.ini")));
    QCOMPARE(int(calibration::upload(line, table, std::int16_t(values.size()), file)), end);
    QCOMPARE(line.commands(), commands);
    // Once the range has gone out, stored when the upload ends: after the stamp, or where it was stopped.
    const qsizetype stored = line.log.indexOf(QStringLiteral("limits 1526 1580"));
    QCOMPARE(stored >= 0, commands.size() >= 24);
    QCOMPARE(QFile::exists(file.path()), stored >= 0);
    if (stored >= 0) {
        QCOMPARE(stored, line.log.size() - 1);
        QCOMPARE(file.limits().swMin, 1526);
        QCOMPARE(file.limits().swMax, 1580);
    }
    if (end == int(calibration::UploadEnd::Done)) {
        // Every command is followed by a clearing and a wait of 50 ms, and the check adds one wait.
        QCOMPARE(line.log.count(QStringLiteral("wait 50")), commands.size() + 1);
        QCOMPARE(line.now, (commands.size() + 1) * 51);
    }
}

void TestOperations::uploadLosesPort_data() {
    QTest::addColumn<int>("atWait"); // the port closes at the end of this wait (0: closed from the start)
    QTest::addColumn<bool>("back");  // and opens again at the end of the next one (a bridge, a server that
                                     // opens it again)
    // A 10-row upload waits 31 times.
    for (int wait = 0; wait <= 31; ++wait) {
        QTest::addRow("closed at wait %d", wait) << wait << false;
        QTest::addRow("closed at wait %d and back", wait) << wait << true;
    }
}

// Whenever the port closes, the upload ends without success and stores nothing, and no value (Y) reaches the
// device unless its slot (X) reached it just before, over the same connection.
void TestOperations::uploadLosesPort() {
    QFETCH(int, atWait);
    QFETCH(bool, back);
    RecordingLine line;
    line.portOpen = atWait > 0;
    line.duringWait = [&](int waits) {
        if (waits == atWait) {
            line.setPortOpen(false);
        } else if (back && waits == atWait + 1) {
            line.setPortOpen(true);
        }
    };

    QTemporaryDir dir;
    const settings::SettingsFile file(dir.filePath(QStringLiteral("merovask.ini")));
    QCOMPARE(calibration::upload(line, tenRows(counting(10)), 10, file), calibration::UploadEnd::NoResponse);

    QVERIFY(!line.log.join(QLatin1Char('|')).contains(QStringLiteral("limits")));
    QVERIFY(!QFile::exists(file.path()));
    QString previous; // the last command that went out, or the last change of the port
    for (const QString& entry : line.log) {
        if (entry.startsWith(QLatin1Char('Y'))) {
            QVERIFY2(previous.startsWith(QLatin1Char('X')), qPrintable(line.log.join(QLatin1Char('|'))));
        }
        if (entry.startsWith(QLatin1String("port")) || entry.endsWith(QLatin1Char(','))) {
            previous = entry;
        }
    }
    if (atWait == 0 && !back) {
        // Every slot is tried, as every command is on a closed port, so the operator sees its warnings.
        QCOMPARE(line.log.filter(QRegularExpression(QStringLiteral("^lost X\\d+,$"))).size(), 10);
        QCOMPARE(line.log.count(QStringLiteral("wait 50")), 21);
    }
}

void TestOperations::gateDuringUpload_data() {
    QTest::addColumn<QString>("operation"); // as run() takes it, or "upload" or "auto"
    QTest::addColumn<int>("atWait");        // tried at the end of this wait of the upload
    // Spread over the table (waits 1 to 20), the reply check (21), the range and the stamp.
    const char* operations[] = {"send 1600",           "up 5",   "down 5",   "calibrate",
                                "setting 1520 1580 5", "scan 5", "switch 2", "console Q9",
                                "console get",         "upload", "auto"};
    int wait = 1;
    for (const char* operation : operations) {
        QTest::addRow("%s at wait %d", operation, wait) << operation << wait;
        wait += 3;
    }
}

// While the upload runs, the gate refuses every other operation: nothing of it is sent, shown or waited for.
// Once the upload has ended, the same operation runs.
void TestOperations::gateDuringUpload() {
    QFETCH(QString, operation);
    QFETCH(int, atWait);
    const calibration::CalTable table = tenRows(counting(10));
    QTemporaryDir dir;
    const settings::SettingsFile file(dir.filePath(QStringLiteral("merovask.ini")));
    filter::AutoCycle cycle;
    cycle.restart();
    const filter::TextField command(QStringLiteral("z")), wait(QStringLiteral("0"));
    const auto attempt = [&](RecordingLine& line) {
        if (operation == QLatin1String("upload")) {
            calibration::upload(line, table, 10, file);
        } else if (operation == QLatin1String("auto")) {
            cycle.tick(line, {{&command, &command, &command}, {&wait, &wait, &wait}});
        } else {
            run(line, operation);
        }
    };
    RecordingLine alone;
    calibration::upload(alone, table, 10, file);

    RecordingLine line;
    devlink::Gate gate;
    bool ran = true;
    line.duringWait = [&](int waits) {
        if (waits == atWait) {
            ran = gate.pass([&] { attempt(line); });
        }
    };
    gate.exclusive([&] { calibration::upload(line, table, 10, file); });

    QVERIFY(!ran);
    QCOMPARE(line.log, alone.log);
    QCOMPARE(cycle.phase(), 1);
    line.duringWait = {};
    QVERIFY(gate.pass([&] { attempt(line); }));
    QVERIFY(line.log.size() > alone.log.size());
}

void TestOperations::autoCycle_data() {
    QTest::addColumn<QStringList>("commandBoxes");
    QTest::addColumn<QStringList>("waitBoxes");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QStringList>("sends"); // "tick:command"; "*" restarts the cycle before that tick

    const QStringList defaults{"z", "g0", "p"};
    QTest::newRow("default boxes") << defaults << QStringList{"30", "1", "1"} << 68
                                   << QStringList{"1:z", "32:g0", "34:p", "36:z", "67:g0"};
    QTest::newRow("waits 0") << defaults << QStringList{"0", "0", "0"} << 5
                             << QStringList{"1:z", "2:g0", "3:p", "4:z", "5:g0"};
    QTest::newRow("waits -1") << defaults << QStringList{"-1", "-1", "-1"} << 4
                              << QStringList{"1:z", "2:g0", "3:p", "4:z"};
    QTest::newRow("wait 2.5 like 2") << defaults << QStringList{"2.5", "1", "1"} << 9
                                     << QStringList{"1:z", "4:g0", "6:p", "8:z"};
    QTest::newRow("wait with letters is 0")
        << defaults << QStringList{"abc", "2", "0"} << 6 << QStringList{"1:z", "2:g0", "5:p", "6:z"};
    QTest::newRow("empty command box")
        << QStringList{"z", "", "p"} << QStringList{"0", "0", "0"} << 3 << QStringList{"1:z", "2:", "3:p"};
    // Switched off and on while waiting after the second command: the first command at the next tick.
    QTest::newRow("restart in phase 4")
        << defaults << QStringList{"0", "5", "0"} << 4 << QStringList{"1:z", "2:g0", "*", "4:z"};
}

// The switch's click sets the first command; each tick sends at most one command, directly (no time-out,
// no console) and as the last command.
void TestOperations::autoCycle() {
    QFETCH(QStringList, commandBoxes);
    QFETCH(QStringList, waitBoxes);
    QFETCH(int, ticks);
    QFETCH(QStringList, sends);
    std::array<filter::TextField, 3> commands{filter::TextField(commandBoxes[0]),
                                              filter::TextField(commandBoxes[1]),
                                              filter::TextField(commandBoxes[2])};
    std::array<filter::TextField, 3> waits{filter::TextField(waitBoxes[0]), filter::TextField(waitBoxes[1]),
                                           filter::TextField(waitBoxes[2])};
    const filter::AutoCycle::Boxes boxes{{&commands[0], &commands[1], &commands[2]},
                                         {&waits[0], &waits[1], &waits[2]}};
    filter::AutoCycle cycle;
    QCOMPARE(cycle.phase(), 0);
    cycle.restart();
    RecordingLine line;
    QStringList seen;
    for (int tick = 1; tick <= ticks; ++tick) {
        if (sends.contains(QStringLiteral("*")) && seen.size() == sends.indexOf(QStringLiteral("*"))) {
            const std::int32_t count = cycle.count();
            cycle.restart();
            QCOMPARE(cycle.phase(), 1);
            QCOMPARE(cycle.count(), count); // the switch leaves the count alone
            seen << QStringLiteral("*");
            continue;
        }
        const qsizetype before = line.log.size();
        cycle.tick(line, boxes);
        if (line.log.size() > before) {
            seen << QString::number(tick) + QLatin1Char(':') + line.lastCmd;
        }
    }
    QCOMPARE(seen, sends);
    for (const QString& entry : line.log) {
        QVERIFY2(entry.endsWith(QLatin1Char(',')), qPrintable(entry)); // sends alone: no arming, no clearing
    }
}

QTEST_APPLESS_MAIN(TestOperations)
#include "tst_operations.moc"
