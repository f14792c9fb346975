// SPDX-License-Identifier: MIT
// The operator's filter panel through the real window: what reaches the line for each typed value, what the
// boxes show afterwards, the paced scan set-up, the auto-mode cycle tick by tick and the 1x4 switch panel.

#include "support/panel.h"

#include <QDir>
#include <QImage>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>

using testsupport::Panel;
using testsupport::PtyDevice;

namespace {

constexpr int kWaitMs = 5000;

QByteArray limitsIni(const char* swMin, const char* swMax) {
    return QByteArray("[tfilter]\r\nport=1\r\nSWmin=") + swMin + "\r\nSWmax=" + swMax + "\r\n";
}

// Runs `check` once the window's event loop has been running for `ms`, i.e. inside a wait of the handler
// that the test calls next.
void during(int ms, std::function<void()> check) {
    QTimer::singleShot(ms, Qt::PreciseTimer, std::move(check));
}

bool waitForReply(Panel& panel, const QString& reply) {
    for (int i = 0; i < kWaitMs / 5; ++i) {
        if (panel.replies().contains(reply)) {
            return true;
        }
        PtyDevice::pump(5);
    }
    return false;
}

} // namespace

class TestFilter : public QObject {
    Q_OBJECT

  private slots:
    void tuning_data();
    void tuning();
    void calibrationCommand();
    void swappedLimits_data();
    void swappedLimits();

    void setting();
    void settingSilentDevice();
    void clickDuringSettingWait();
    void settingInsideSetting();
    void scan_data();
    void scan();

    void autoSwitch();
    void autoTicks_data();
    void autoTicks();

    void switchButtons_data();
    void switchButtons();
    void switchReplyHidesWait_data();
    void switchReplyHidesWait();
    void switchTwoClicks();
    void enlargeWindow();
};

// "Send", "Increase" and "Decrease": the value typed, the command on the line, the box afterwards.
void TestFilter::tuning_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("box");

    const int send = 3;
    const int up = 6;
    const int down = 7;
    QTest::newRow("send above max") << send << "1600"
                                    << "C1589"
                                    << "1589";
    QTest::newRow("increase 45") << up << "45"
                                 << "I30"
                                 << "30";
    QTest::newRow("decrease -7") << down << "-7"
                                 << "D1"
                                 << "1";
}

void TestFilter::tuning() {
    QFETCH(int, button);
    QFETCH(QString, typed);
    QFETCH(QString, command);
    QFETCH(QString, box);

    Panel panel;
    panel.start();
    QVERIFY(serialLine(panel.w).portOpen());
    frmMotor* w = panel.w.get();
    QLineEdit* edit = button == 3 ? ui(w).Text6 : button == 6 ? ui(w).Text11 : ui(w).Text12;
    QPushButton* click = button == 3 ? ui(w).Command3 : button == 6 ? ui(w).Command6 : ui(w).Command7;
    const QString before6 = ui(w).Text6->text();
    edit->setText(typed);

    click->click();

    QVERIFY(panel.device->sync());
    QCOMPARE(panel.device->received(), command.toLatin1() + ',');
    QCOMPARE(edit->text(), box);
    QCOMPARE(ui(w).TxtCom->text(), command);
    QCOMPARE(serialLine(w).lastCmd(), command);
    if (edit != ui(w).Text6) {
        QCOMPARE(ui(w).Text6->text(), before6);
    }
    VERIFY_BOXES(panel.boxes);
}

void TestFilter::calibrationCommand() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    ui(w).Text6->setText(QStringLiteral("abc"));
    ui(w).Text11->setText(QStringLiteral("99"));

    ui(w).Command10->click();

    QVERIFY(panel.device->sync());
    QCOMPARE(panel.device->received(), QByteArray("Z,"));
    QCOMPARE(ui(w).TxtCom->text(), QStringLiteral("Z"));
    QCOMPARE(ui(w).Text6->text(), QStringLiteral("abc"));
    QCOMPARE(ui(w).Text11->text(), QStringLiteral("99"));
    VERIFY_BOXES(panel.boxes);
}

void TestFilter::swappedLimits_data() {
    QTest::addColumn<QString>("typed");
    for (const char* typed : {"1550"}) {
        QTest::newRow(typed) << QString::fromLatin1(typed);
    }
}

// A settings file with the limits swapped: the lower bound is applied first, so every wavelength ends at max.
void TestFilter::swappedLimits() {
    QFETCH(QString, typed);
    Panel panel(limitsIni("1600", "1500"));
    panel.start();
    frmMotor* w = panel.w.get();
    ui(w).Text6->setText(typed);

    ui(w).Command3->click();

    QVERIFY(panel.device->waitForCommands(1, kWaitMs));
    QCOMPARE(panel.commands(), QStringList{QStringLiteral("C1500")});
    QCOMPARE(ui(w).Text6->text(), QStringLiteral("1500"));
    VERIFY_BOXES(panel.boxes);
}

// "Setting" with values outside the range: the limited values in the boxes and on the line; the two pauses,
// from the moment the line has handed one command to the system to the next (measured at the device they
// would include its thread's own scheduling); the response time-out that only the stay time keeps.
void TestFilter::setting() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    ui(w).Text7->setText(QStringLiteral("1400"));
    ui(w).Text8->setText(QStringLiteral("1600"));
    ui(w).Text9->setText(QStringLiteral("1"));
    QList<bool> timeoutArmed;
    during(250, [&] { timeoutArmed << serialLine(w).timeoutArmed(); });
    during(750, [&] { timeoutArmed << serialLine(w).timeoutArmed(); });
    std::vector<std::chrono::steady_clock::time_point> handed;
    connect(&serialLine(w), &devlink::SerialLine::commandSent,
            [&handed] { handed.push_back(std::chrono::steady_clock::now()); });

    ui(w).Command5->click();

    QVERIFY(serialLine(w).timeoutArmed()); // the stay time's answer is still awaited
    QCOMPARE(timeoutArmed, (QList<bool>{false, false}));
    QVERIFY(panel.device->sync());
    QCOMPARE(panel.device->received(), QByteArray("L1510,H1589,T1,"));
    QCOMPARE((QStringList{ui(w).Text7->text(), ui(w).Text8->text(), ui(w).Text9->text()}),
             (QStringList{"1510", "1589", "1"}));
    QCOMPARE(ui(w).TxtCom->text(), QStringLiteral("T1"));
    QCOMPARE(handed.size(), std::size_t(3));
    const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const double gap1 = ms(handed[1] - handed[0]);
    const double gap2 = ms(handed[2] - handed[1]);
    qInfo("Setting: H %.3f ms after L, T %.3f ms after H", gap1, gap2);
    // How close to 500 ms they come is a figure of the benchmark.
    QVERIFY2(gap1 >= 500, qPrintable(QString::number(gap1)));
    QVERIFY2(gap2 >= 500, qPrintable(QString::number(gap2)));
    VERIFY_BOXES(panel.boxes);
}

// A silent device: the start and end wavelengths go unanswered without a message; the stay time does not.
void TestFilter::settingSilentDevice() {
    Panel panel;
    panel.device->setMode(PtyDevice::Mode::Silent);
    panel.start();
    frmMotor* w = panel.w.get();
    int boxesDuringWaits = -1;
    during(1000, [&] { boxesDuringWaits = static_cast<int>(panel.boxes.shown().size()); });

    ui(w).Command5->click();

    QCOMPARE(boxesDuringWaits, 0);
    QVERIFY(panel.boxes.shown().isEmpty());
    panel.boxes.expect(QStringLiteral("no response form device"));
    QSignalSpy ticks(&serialLine(w), &devlink::SerialLine::timedOut);
    QVERIFY(ticks.wait(kWaitMs));
    QCOMPARE(panel.boxes.shown(), QStringList{QStringLiteral("no response form device")});
    QCOMPARE(panel.commands(), (QStringList{"L1510", "H1589", "T1"}));
    VERIFY_BOXES(panel.boxes);
}

void TestFilter::clickDuringSettingWait() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    int seenWhenClicked = -1;
    during(100, [&] {
        seenWhenClicked = static_cast<int>(panel.device->commands().size());
        ui(w).Command4->click();
    });

    ui(w).Command5->click();

    QVERIFY(panel.device->sync());
    QCOMPARE(seenWhenClicked, 1);
    QCOMPARE(panel.commands(), (QStringList{"L1510", "S4", "H1589", "T1"}));
    VERIFY_BOXES(panel.boxes);
}

// A second "Setting" started inside the first one's wait runs its whole sequence before the first goes on.
void TestFilter::settingInsideSetting() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    during(100, [&] {
        ui(w).Text8->setText(QStringLiteral("1580"));
        ui(w).Text9->setText(QStringLiteral("7"));
        ui(w).Command5->click();
    });

    ui(w).Command5->click();

    QVERIFY(panel.device->sync());
    QCOMPARE(panel.commands(), (QStringList{"L1510", "L1510", "H1580", "T7", "H1580", "T7"}));
    QCOMPARE(ui(w).TxtCom->text(), QStringLiteral("T7"));
    VERIFY_BOXES(panel.boxes);
}

void TestFilter::scan_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("command");
    QTest::newRow("45") << "45"
                        << "S30";
}

// "Scan" alone leaves its box as typed.
void TestFilter::scan() {
    QFETCH(QString, typed);
    QFETCH(QString, command);
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    ui(w).Text10->setText(typed);

    ui(w).Command4->click();

    QVERIFY(panel.device->sync());
    QCOMPARE(panel.device->received(), command.toLatin1() + ',');
    QCOMPARE(ui(w).Text10->text(), typed);
    QCOMPARE(ui(w).TxtCom->text(), command);
    VERIFY_BOXES(panel.boxes);
}

void TestFilter::autoSwitch() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    QVERIFY(!timer2(w)->isActive());
    QCOMPARE(cycle(w).phase(), 0);

    w->Command2_Click();
    QVERIFY(timer2(w)->isActive());
    QCOMPARE(cycle(w).phase(), 1);
    QCOMPARE(ui(w).Command2->text(), QStringLiteral("start auto"));

    w->Command2_Click();
    QVERIFY(!timer2(w)->isActive());
    QCOMPARE(cycle(w).phase(), 1);
    QCOMPARE(ui(w).Command2->text(), QStringLiteral("start auto"));
    QVERIFY(panel.device->commands().empty());
}

// Each row: the six boxes of the cycle and, for the given number of ticks, which tick sends which command.
void TestFilter::autoTicks_data() {
    QTest::addColumn<QStringList>("commandBoxes"); // Text2, Text3, Text13
    QTest::addColumn<QStringList>("waitBoxes");    // Text4, Text5, Text14
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QStringList>("sends"); // "tick:command"

    const QStringList defaults{"z", "g0", "p"};
    QTest::newRow("default boxes") << defaults << QStringList{"30", "1", "1"} << 68
                                   << QStringList{"1:z", "32:g0", "34:p", "36:z", "67:g0"};
}

void TestFilter::autoTicks() {
    QFETCH(QStringList, commandBoxes);
    QFETCH(QStringList, waitBoxes);
    QFETCH(int, ticks);
    QFETCH(QStringList, sends);

    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    ui(w).Text2->setText(commandBoxes[0]);
    ui(w).Text3->setText(commandBoxes[1]);
    ui(w).Text13->setText(commandBoxes[2]);
    ui(w).Text4->setText(waitBoxes[0]);
    ui(w).Text5->setText(waitBoxes[1]);
    ui(w).Text14->setText(waitBoxes[2]);
    ui(w).TxtCom->setText(QStringLiteral("typed"));
    w->Command2_Click();
    timer2(w)->stop(); // the test gives the ticks itself
    QCOMPARE(cycle(w).phase(), 1);

    // A tick sends exactly when it sets lastCmd; a marker that no command equals shows which ticks did.
    const QString marker = QStringLiteral("<no send>");
    QStringList seen;
    for (int tick = 1; tick <= ticks; ++tick) {
        serialLine(w).setLastCmd(marker);
        w->Timer2_Timer();
        if (serialLine(w).lastCmd() != marker) {
            seen << QString::number(tick) + QLatin1Char(':') + serialLine(w).lastCmd();
        }
        QVERIFY(!serialLine(w).timeoutArmed());
        QCOMPARE(ui(w).TxtCom->text(), QStringLiteral("typed"));
    }
    QCOMPARE(seen, sends);

    QStringList expected;
    QByteArray bytes;
    for (const QString& send : sends) {
        expected << send.section(QLatin1Char(':'), 1);
        bytes += send.section(QLatin1Char(':'), 1).toLatin1() + ',';
    }
    QVERIFY(panel.device->sync());
    QCOMPARE(panel.commands(), expected);
    QCOMPARE(panel.device->received(), bytes);
    VERIFY_BOXES(panel.boxes);
}

void TestFilter::switchButtons_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("letter");
    QTest::newRow("1") << 0 << "A";
    QTest::newRow("2") << 1 << "B";
    QTest::newRow("3") << 2 << "C";
    QTest::newRow("4") << 3 << "D";
}

void TestFilter::switchButtons() {
    QFETCH(int, index);
    QFETCH(QString, letter);
    Panel panel;
    panel.device->setMode(PtyDevice::Mode::Silent); // nothing hides the waiting label
    panel.start();
    frmMotor* w = panel.w.get();
    panel.boxes.allow(QStringLiteral("no response form device"));
    const auto picture = [&](int i) { return picBack(w)[static_cast<std::size_t>(i)]->picture().toImage(); };
    QVERIFY(ui(w).Labwait->isHidden());
    QCOMPARE(ui(w).Picture1->picture().toImage(), picture(0));
    for (int other = 0; other < 4; ++other) {
        if (other != index) {
            QVERIFY(picture(other) != picture(index)); // the drawings tell the outputs apart
        }
    }

    cmdPort(w)[static_cast<std::size_t>(index)]->click();

    QCOMPARE(ui(w).Picture1->picture().toImage(), picture(index));
    QVERIFY(!ui(w).Labwait->isHidden());
    QCOMPARE(ui(w).TxtCom->text(), letter);
    QCOMPARE(serialLine(w).lastCmd(), letter);
    QVERIFY(panel.device->sync());
    QCOMPARE(panel.device->received(), letter.toLatin1() + ',');

    // The same button again: the same letter, the same picture.
    cmdPort(w)[static_cast<std::size_t>(index)]->click();
    QVERIFY(panel.device->waitForCommands(2, kWaitMs));
    QCOMPARE(panel.commands(), (QStringList{letter, letter}));
    QCOMPARE(ui(w).Picture1->picture().toImage(), picture(index));
    VERIFY_BOXES(panel.boxes);
}

void TestFilter::switchReplyHidesWait_data() {
    QTest::addColumn<bool>("debug");
    QTest::newRow("engineering mode") << true;
    QTest::newRow("normal mode") << false;
}

// A switch reply hides "waiting......" in the engineering mode only.
void TestFilter::switchReplyHidesWait() {
    QFETCH(bool, debug);
    Panel panel;
    panel.device->setScript([](const QByteArray&) { return QByteArray("T2 "); });
    panel.start();
    frmMotor* w = panel.w.get();
    // The engineering mode logs replies into the working folder.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(panel.dir.path());
    const auto restore = qScopeGuard([&] { QDir::setCurrent(cwd); });
    debugMode(w) = debug;

    w->CmdPort_Click(1);
    QVERIFY(!ui(w).Labwait->isHidden());
    QVERIFY(waitForReply(panel, QStringLiteral("T2 ")));

    QCOMPARE(ui(w).Labwait->isHidden(), debug);
    QCOMPARE(panel.commands(), QStringList{QStringLiteral("B")});
    VERIFY_BOXES(panel.boxes);
}

void TestFilter::switchTwoClicks() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();

    w->CmdPort_Click(1);
    w->CmdPort_Click(3);

    QVERIFY(panel.device->sync());
    QCOMPARE(panel.device->received(), QByteArray("B,D,"));
    QCOMPARE(ui(w).Picture1->picture().toImage(), picBack(w)[3]->picture().toImage());
    QCOMPARE(ui(w).TxtCom->text(), QStringLiteral("D"));
    VERIFY_BOXES(panel.boxes);
}

// The double-click on "1x4" opens the window down to the switch panel; offscreen there is no frame, so the
// outer height is the window's own.
void TestFilter::enlargeWindow() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    const int width = w->width();
    const int target = ui(w).CmdClear->y() + 200;
    QVERIFY(w->frameGeometry().height() != target);

    QTest::mouseDClick(ui(w).Label3, Qt::LeftButton);
    QCOMPARE(w->frameGeometry().height(), target);
    QCOMPARE(w->width(), width);

    w->Label3_DblClick();
    QCOMPARE(w->frameGeometry().height(), target);
    QCOMPARE(w->width(), width);
    QVERIFY(panel.device->commands().empty());
}

QTEST_MAIN(TestFilter)
#include "tst_filter.moc"
