// SPDX-License-Identifier: MIT
// Start-up and shut-down of the real window against the settings file in its program folder.

#include "support/panel.h"
#include "system/profile.h"
#include "system/programdir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using testsupport::Panel;
using testsupport::PtyDevice;

namespace {

const QByteArray kFirstStartFile =
    "[tfilter]\r\ndebug=0\r\nport=1\r\nSTime=1\r\nSPan=4\r\nCch=1550\r\nCI=1\r\nCD=1\r\n";

// The value of a key as the profile calls see it, or "<none>" when the key is missing.
QByteArray readKey(const QString& file, const char* key) {
    char buffer[300];
    GetPrivateProfileStringA("tfilter", key, "<none>", buffer, sizeof buffer,
                             QFile::encodeName(file).constData());
    return QByteArray(buffer);
}

// The eight boxes of the settings table, in the table's order.
QStringList boxTexts(const frmMotor& w) {
    const auto& f = ui(&w);
    return {f.Text1->text(),  f.Text7->text(), f.Text8->text(),  f.Text9->text(),
            f.Text10->text(), f.Text6->text(), f.Text11->text(), f.Text12->text()};
}

QStringList captions(const frmMotor& w) {
    const auto& f = ui(&w);
    return {f.Label6->text(), f.Label7->text(), f.Label8->text()};
}

QStringList captionsFor(int lo, int hi) {
    const QString range = QStringLiteral("(%1~%2)").arg(lo).arg(hi);
    return {QStringLiteral("Wavelength") + range, QStringLiteral("Start Wavelength") + range,
            QStringLiteral("End Wavelength") + range};
}

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Garbage as a hand-edited or damaged file may hold: every byte value, line breaks among them.
QByteArray garbage(bool withNul) {
    QByteArray bytes;
    for (int i = withNul ? 0 : 1; i < 256; ++i) {
        bytes += static_cast<char>(i);
    }
    return bytes + bytes;
}

} // namespace

class tst_settings : public QObject {
    Q_OBJECT

  private slots:
    void firstStartOnEmptyFolder();
    void startValues_data();
    void startValues();
    void debugKeyKeptAndIgnored();
    void shutDownStoresSixKeys_data();
    void shutDownStoresSixKeys();
    void shutDownRunsOnce();
    void readOnlyProgramFolder();
    void missingProgramFolder();
    void roundTrip();
    void lettersInPortComeBack();
};

void tst_settings::firstStartOnEmptyFolder() {
    Panel p;
    QVERIFY(p.device->ok());
    p.start();
    VERIFY_BOXES(p.boxes);

    QCOMPARE(boxTexts(*p.w), (QStringList{"1", "1510", "1589", "1", "4", "1550", "1", "1"}));
    QCOMPARE(captions(*p.w), captionsFor(1510, 1589));
    QCOMPARE(serialLine(p.w).limits().swMin, 1510);
    QCOMPARE(serialLine(p.w).limits().swMax, 1589);
    QVERIFY(!debugMode(p.w));
    QCOMPARE(ui(p.w).Comb->count(), 11);
    QVERIFY(serialLine(p.w).portOpen());
    QVERIFY(serialLine(p.w).port().PortOpen());
    QCOMPARE(p.replies(), QStringList{"open successfully"});
    QCOMPARE(ui(p.w).Command1->text(), QStringLiteral("close"));
    QCOMPARE(settingsFile(p.w).path(), QDir(p.dir.path()).filePath("merovask.ini"));
    // Start-up sends nothing.
    QVERIFY(p.device->sync());
    QVERIFY(p.device->received().isEmpty());

    QCOMPARE(p.iniBytes(), kFirstStartFile);
    QVERIFY(!p.iniBytes().contains("SWmin"));
    QVERIFY(!p.iniBytes().contains("SWmax"));
}

void tst_settings::startValues_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("port");  // Text1
    QTest::addColumn<QString>("text7"); // SWmin as shown
    QTest::addColumn<int>("swMin");
    QTest::addColumn<int>("swMax");
    QTest::addColumn<QString>("cch"); // Text6
    QTest::addColumn<QString>("ci");  // Text11
    QTest::addColumn<QString>("cd");  // Text12
    QTest::addColumn<QString>("box"); // message box of the port's open, if any

    const QString none;
    QTest::newRow("SWmin half down to even") << QByteArray("[tfilter]\r\nSWmin=1510.5\r\n") << "1"
                                             << "1510.5" << 1510 << 1589 << "1550"
                                             << "1"
                                             << "1" << none;
    QTest::newRow("SWmin half up to even") << QByteArray("[tfilter]\r\nSWmin=1511.5\r\n") << "1"
                                           << "1511.5" << 1512 << 1589 << "1550"
                                           << "1"
                                           << "1" << none;
    QTest::newRow("SWmin no number") << QByteArray("[tfilter]\r\nSWmin=abc\r\n") << "1"
                                     << "abc" << 0 << 1589 << "1550"
                                     << "1"
                                     << "1" << none;
    QTest::newRow("SWmin beyond 32 bits") << QByteArray("[tfilter]\r\nSWmin=3e10\r\nSWmax=1600\r\n") << "1"
                                          << "3e10" << 0 << 1600 << "1550"
                                          << "1"
                                          << "1" << none;
    QTest::newRow("port empty") << QByteArray("[tfilter]\r\nport=\r\n") << ""
                                << "1510" << 1510 << 1589 << "1550"
                                << "1"
                                << "1"
                                << "can't open comm port 0";
    QTest::newRow("blanks and quotes")
        << QByteArray("[tfilter]\r\nCch =  \"1560\"  \r\nCI= ' 7 ' \r\nCD=\t2 \r\n") << "1"
        << "1510" << 1510 << 1589 << "1560"
        << "7"
        << "2" << none;
    QTest::newRow("letter case") << QByteArray("[TFilter]\r\nCCH=1570\r\nswMIN=1520\r\n") << "1"
                                 << "1520" << 1520 << 1589 << "1570"
                                 << "1"
                                 << "1" << none;
    QTest::newRow("duplicates")
        << QByteArray("[tfilter]\r\nCch=1571\r\nCch=1572\r\n[x]\r\na=1\r\n[tfilter]\r\nCI=9\r\n") << "1"
        << "1510" << 1510 << 1589 << "1571"
        << "1"
        << "1" << none;
    QTest::newRow("CR only") << QByteArray("[tfilter]\rCch=1573\rCI=5") << "1"
                             << "1510" << 1510 << 1589 << "1573"
                             << "5"
                             << "1" << none;
    QTest::newRow("LF only") << QByteArray("[tfilter]\nCch=1574\nCD=6\n") << "1"
                             << "1510" << 1510 << 1589 << "1574"
                             << "1"
                             << "6" << none;
    QTest::newRow("BOM") << QByteArray("\xEF\xBB\xBF[tfilter]\r\nCch=1575\r\n") << "1"
                         << "1510" << 1510 << 1589 << "1575"
                         << "1"
                         << "1" << none;
    QTest::newRow("300 characters") << QByteArray("[tfilter]\r\nCch=" + QByteArray(300, 'a') + "\r\nCI=4\r\n")
                                    << "1"
                                    << "1510" << 1510 << 1589 << QString(199, u'a') << "4"
                                    << "1" << none;
    QTest::newRow("binary garbage") << garbage(false) + "\r\n[tfilter]\r\nCch=1576\r\nCI=3\r\n" +
                                           garbage(true)
                                    << "1"
                                    << "1510" << 1510 << 1589 << "1576"
                                    << "3"
                                    << "1" << none;
}

void tst_settings::startValues() {
    QFETCH(QByteArray, ini);
    QFETCH(QString, port);
    QFETCH(QString, text7);
    QFETCH(int, swMin);
    QFETCH(int, swMax);
    QFETCH(QString, cch);
    QFETCH(QString, ci);
    QFETCH(QString, cd);
    QFETCH(QString, box);

    Panel p(ini);
    if (!box.isEmpty()) {
        p.boxes.expect(box);
    }
    p.start();
    VERIFY_BOXES(p.boxes);

    QCOMPARE(ui(p.w).Text1->text(), port);
    QCOMPARE(ui(p.w).Text7->text(), text7);
    QCOMPARE(serialLine(p.w).limits().swMin, swMin);
    QCOMPARE(serialLine(p.w).limits().swMax, swMax);
    QCOMPARE(captions(*p.w), captionsFor(swMin, swMax));
    QCOMPARE(ui(p.w).Text6->text(), cch);
    QCOMPARE(ui(p.w).Text11->text(), ci);
    QCOMPARE(ui(p.w).Text12->text(), cd);
    QCOMPARE(serialLine(p.w).portOpen(), box.isEmpty());
    QVERIFY(!debugMode(p.w));
    // What start-up wrote back reads the same as what it showed.
    QCOMPARE(readKey(settingsFile(p.w).path(), "Cch"), cch.toLatin1());
    QCOMPARE(readKey(settingsFile(p.w).path(), "port"), port.toLatin1());
}

void tst_settings::debugKeyKeptAndIgnored() {
    Panel p("[tfilter]\r\ndebug=1\r\n");
    p.start();
    VERIFY_BOXES(p.boxes);
    QVERIFY(!debugMode(p.w));
    QCOMPARE(readKey(settingsFile(p.w).path(), "debug"), QByteArray("1"));
    // Debug mode off: a timed-out command leaves no history line.
    p.device->setMode(PtyDevice::Mode::Silent);
    p.boxes.expect(QStringLiteral("no response form device"));
    ui(p.w).TxtCom->setText(QStringLiteral("v"));
    p.w->CmdSend_Click();
    QTRY_COMPARE_WITH_TIMEOUT(p.boxes.shown().size(), 1, 5000);
    QCOMPARE(ui(p.w).List1->count(), 0);
    VERIFY_BOXES(p.boxes);
    p.w->Command9_Click();
    QCOMPARE(readKey(settingsFile(p.w).path(), "debug"), QByteArray("1"));
}

void tst_settings::shutDownStoresSixKeys_data() {
    QTest::addColumn<bool>("viaExit");
    QTest::newRow("Exit") << true;
    QTest::newRow("close box") << false;
}

void tst_settings::shutDownStoresSixKeys() {
    QFETCH(bool, viaExit);
    // A hand-kept file: a comment, the range of an earlier calibration, a blank line, another section with
    // LF-only line ends.
    const QByteArray before = "; bench 3\r\n[tfilter]\r\ndebug=0\r\nport=1\r\nSWmin=1520\r\nSWmax=1580\r\n"
                              "STime=1\r\nSPan=4\r\nCch=1550\r\nCI=1\r\nCD=1\r\n\r\n[other]\nkeep=this\n";
    Panel p(before);
    auto second = std::make_unique<PtyDevice>(p.dir.path(), 2);
    p.start();
    VERIFY_BOXES(p.boxes);
    QCOMPARE(p.iniBytes(), before); // start-up wrote back what it read: nothing changed
    QVERIFY(serialLine(p.w).port().PortOpen());

    QSignalSpy unloaded(p.w.get(), &frmMotor::Unloaded);
    ui(p.w).Text1->setText(QStringLiteral("2"));
    ui(p.w).Text9->setText(QStringLiteral("12 "));
    ui(p.w).Text10->setText(QStringLiteral("abc"));
    ui(p.w).Text6->setText(QStringLiteral("1560.5"));
    ui(p.w).Text11->setText(QString());
    ui(p.w).Text12->setText(QStringLiteral("99999999999"));
    ui(p.w).Text7->setText(QStringLiteral("1400")); // not stored
    ui(p.w).Text8->setText(QStringLiteral("1700")); // not stored
    if (viaExit) {
        p.w->Command9_Click();
    } else {
        p.w->close();
    }
    VERIFY_BOXES(p.boxes);
    QCOMPARE(unloaded.count(), 1);
    QVERIFY(!p.w->isVisible());
    // The port is closed; the flag that says it was opened is left as it was.
    QVERIFY(!serialLine(p.w).port().PortOpen());
    QVERIFY(serialLine(p.w).portOpen());

    QCOMPARE(p.iniBytes(),
             QByteArray("; bench 3\r\n[tfilter]\r\ndebug=0\r\nport=2\r\nSWmin=1520\r\nSWmax=1580\r\n"
                        "STime=12 \r\nSPan=abc\r\nCch=1560.5\r\nCI=\r\nCD=99999999999\r\n"
                        "\r\n[other]\nkeep=this\n"));
}

void tst_settings::shutDownRunsOnce() {
    Panel p;
    p.start();
    QSignalSpy unloaded(p.w.get(), &frmMotor::Unloaded);
    ui(p.w).Text6->setText(QStringLiteral("1561"));
    p.w->close();
    const QByteArray stored = p.iniBytes();
    QVERIFY(stored.contains("Cch=1561\r\n"));

    // A second close or unload (a late click on Exit, a handler that ran down) stores nothing again.
    ui(p.w).Text6->setText(QStringLiteral("1562"));
    p.w->close();
    p.w->Command9_Click();
    p.w->Form_Unload();
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(p.iniBytes(), stored);
    // Nothing reaches the line after shut-down.
    ui(p.w).TxtCom->setText(QStringLiteral("v"));
    p.w->CmdSend_Click();
    QVERIFY(p.device->sync());
    QVERIFY(p.device->received().isEmpty());
    VERIFY_BOXES(p.boxes);
}

void tst_settings::readOnlyProgramFolder() {
    Panel p({}, false);
    const QString dir = p.dir.path();
    if (!run(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=1m", "tmpfs", dir})) {
        QSKIP("mounting a tmpfs is not permitted here");
    }
    struct Unmount {
        QString dir;
        ~Unmount() { run(QStringLiteral("umount"), {"-l", dir}); }
    } unmount{dir};

    const QByteArray before =
        "[tfilter]\r\ndebug=0\r\nport=1\r\nSTime=3\r\nSPan=5\r\nCch=1566\r\nCI=2\r\nCD=3\r\n";
    {
        QFile file(p.path(QStringLiteral("merovask.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    p.device = std::make_unique<PtyDevice>(dir, 1); // the link must be in place before the folder is frozen
    QVERIFY(p.device->ok());
    QVERIFY(run(QStringLiteral("mount"), {"-o", "remount,ro", dir}));
    QVERIFY(!QFile(p.path(QStringLiteral("probe"))).open(QIODevice::WriteOnly));

    p.start();
    QCOMPARE(boxTexts(*p.w), (QStringList{"1", "1510", "1589", "3", "5", "1566", "2", "3"}));
    QCOMPARE(p.replies(), QStringList{"open successfully"});

    ui(p.w).Text6->setText(QStringLiteral("1570"));
    ui(p.w).Text9->setText(QStringLiteral("7"));
    p.w->Command9_Click();
    VERIFY_BOXES(p.boxes); // no message of any kind
    QCOMPARE(p.iniBytes(), before);
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System),
             (QStringList{"com1", "merovask.ini"}));
    p.w.reset();
    p.device.reset();
}

void tst_settings::missingProgramFolder() {
    Panel p({}, false);
    const QString missing = p.path(QStringLiteral("gone/away"));
    platform::setProgramDirForTests(missing);
    // Without a com1 link port 1 is the first serial node, which this machine may or may not have.
    p.boxes.allow(QStringLiteral("can't open comm port 1"));
    p.start();
    QCOMPARE(boxTexts(*p.w), (QStringList{"1", "1510", "1589", "1", "4", "1550", "1", "1"}));
    QCOMPARE(captions(*p.w), captionsFor(1510, 1589));
    ui(p.w).Text6->setText(QStringLiteral("1570"));
    p.w->Command9_Click();
    VERIFY_BOXES(p.boxes);
    QVERIFY(!QDir(missing).exists());
}

void tst_settings::roundTrip() {
    Panel p;
    auto second = std::make_unique<PtyDevice>(p.dir.path(), 2);
    p.start();
    VERIFY_BOXES(p.boxes);
    ui(p.w).Text1->setText(QStringLiteral("2"));
    ui(p.w).Text7->setText(QStringLiteral("1520"));
    ui(p.w).Text8->setText(QStringLiteral("1580"));
    ui(p.w).Text9->setText(QStringLiteral("25"));
    ui(p.w).Text10->setText(QStringLiteral("7"));
    ui(p.w).Text6->setText(QStringLiteral("1575"));
    ui(p.w).Text11->setText(QStringLiteral("3"));
    ui(p.w).Text12->setText(QStringLiteral("5"));
    p.w->Command9_Click();
    p.w.reset();

    p.start();
    VERIFY_BOXES(p.boxes);
    // The range boxes are not stored: they come back from the (absent) range keys.
    QCOMPARE(boxTexts(*p.w), (QStringList{"2", "1510", "1589", "25", "7", "1575", "3", "5"}));
    QCOMPARE(p.replies(), QStringList{"open successfully"});
    QCOMPARE(
        p.iniBytes(),
        QByteArray("[tfilter]\r\ndebug=0\r\nport=2\r\nSTime=25\r\nSPan=7\r\nCch=1575\r\nCI=3\r\nCD=5\r\n"));
    // The port opened is the one the file names.
    ui(p.w).TxtCom->setText(QStringLiteral("v"));
    p.w->CmdSend_Click();
    QVERIFY(second->waitForCommands(1));
    QVERIFY(p.device->received().isEmpty());
}

void tst_settings::lettersInPortComeBack() {
    Panel p;
    p.start();
    ui(p.w).Text1->setText(QStringLiteral("abc"));
    p.w->close();
    p.w.reset();

    p.boxes.expect(QStringLiteral("can't open comm port 0"));
    p.start();
    VERIFY_BOXES(p.boxes);
    QCOMPARE(ui(p.w).Text1->text(), QStringLiteral("abc"));
    QVERIFY(!serialLine(p.w).portOpen());
    QCOMPARE(p.replies(), QStringList{});
}

QTEST_MAIN(tst_settings)
#include "tst_settings.moc"
