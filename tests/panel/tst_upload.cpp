// SPDX-License-Identifier: MIT
// "Configure" end to end through the window: the file dialog's request, the file's validation messages, the
// operator's answer, and the upload as the device on the far side of a real pseudo-terminal receives it.

#include "dialogs/filedialog.h"
#include "support/panel.h"
#include "system/clock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <thread>

using testsupport::Panel;
using testsupport::PtyDevice;

namespace {

constexpr int kWaitMs = 5000;
const QString kReset = QStringLiteral("plese reset the tunable filter device's power and this software!");
const QString kNoResponse =
    QStringLiteral("error, no response from device, check RS232 connection and device power");
const QString kOpenPort = QStringLiteral("please open comm port");

// Rows "wave<TAB>value", CRLF-ended; waves fall from `top` by `step`.
QByteArray table(int top, int step, const QList<int>& values) {
    QByteArray out;
    for (int k = 0; k < values.size(); ++k) {
        out += QByteArray::number(top - k * step) + '\t' + QByteArray::number(values[k]) + "\r\n";
    }
    return out;
}

QList<int> counting(int n) {
    QList<int> values;
    for (int k = 0; k < n; ++k) {
        values << 100 + k;
    }
    return values;
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// The dialog answers with `path` and counts how often it was shown.
void chooseFile(const QString& path, int* shown = nullptr) {
    platform::setFileDialogHandlerForTests([path, shown](const OPENFILENAME&) -> std::optional<QString> {
        if (shown != nullptr) {
            ++*shown;
        }
        return path;
    });
}

// The commands of a successful upload of `values` with the range [min, max] on 5 March 2024 at 09:07:33.
QStringList uploadCommands(const QList<int>& values, int min, int max) {
    QStringList out;
    for (int k = 0; k < values.size(); ++k) {
        out << QStringLiteral("X%1").arg(k) << QStringLiteral("Y%1").arg(values[k]);
    }
    out << "X101" << QStringLiteral("Y%1").arg(min) << "X102" << QStringLiteral("Y%1").arg(max);
    out << "X103"
        << "Y2024"
        << "X104"
        << "Y0305"
        << "X105"
        << "Y0907";
    return out;
}

QStringList tableCommands(const QList<int>& values) {
    QStringList out;
    for (int k = 0; k < values.size(); ++k) {
        out << QStringLiteral("X%1").arg(k) << QStringLiteral("Y%1").arg(values[k]);
    }
    return out;
}

QByteArray onTheLine(const QStringList& commands) {
    QByteArray out;
    for (const QString& command : commands) {
        out += command.toLatin1() + ',';
    }
    return out;
}

QString confirmation(int min, int max, int rows) {
    return QStringLiteral("the wave range is from %1 to %2 total %3, correct?").arg(min).arg(max).arg(rows);
}

// Nothing of a Configure that ended early may show on the line, in the settings or in the limits.
#define VERIFY_UNTOUCHED(panel, iniBefore)                                                                   \
    do {                                                                                                     \
        QVERIFY((panel).device->sync());                                                                     \
        QCOMPARE((panel).device->received(), QByteArray());                                                  \
        QCOMPARE((panel).iniBytes(), (iniBefore));                                                           \
        QCOMPARE(serialLine((panel).w).limits().swMin, 1510);                                                \
        QCOMPARE(serialLine((panel).w).limits().swMax, 1589);                                                \
    } while (false)

} // namespace

class TestUpload : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void cancel();
    void requestRecord();
    void pathLength_data();
    void pathLength();
    void formatErrors_data();
    void formatErrors();
    void rejectedNumbers_data();
    void rejectedNumbers();
    void unreadable_data();
    void unreadable();
    void answerNo();

    void uploadTenRows();
    void portClosed();
    void silentDevice();
    void replyCheck_data();
    void replyCheck();
    void noInterleaving();
    void busyCursor_data();
    void busyCursor();
};

void TestUpload::init() {
    platform::setNowForTests([] { return QDateTime(QDate(2024, 3, 5), QTime(9, 7, 33)); });
}

void TestUpload::cleanup() {
    platform::setFileDialogHandlerForTests({});
    platform::setNowForTests({});
}

void TestUpload::cancel() {
    Panel panel;
    panel.start();
    const QByteArray ini = panel.iniBytes();
    int shown = 0;
    platform::setFileDialogHandlerForTests([&](const OPENFILENAME&) -> std::optional<QString> {
        ++shown;
        return std::nullopt;
    });

    ui(panel.w).CmdFile->click();

    QCOMPARE(shown, 1);
    QVERIFY(panel.boxes.shown().isEmpty());
    VERIFY_UNTOUCHED(panel, ini);
}

void TestUpload::requestRecord() {
    Panel panel;
    panel.start();
    struct Seen {
        QString title;
        QByteArray filter;
        DWORD filterIndex = 99;
        DWORD maxFile = 0;
        QByteArray fileBuffer;
        DWORD maxFileTitle = 0;
        QByteArray titleBuffer;
        DWORD flags = 0;
        DWORD structSize = 0;
        bool owner = true;
        QString initialDir;
        QString defExt;
    } seen;
    platform::setFileDialogHandlerForTests([&](const OPENFILENAME& req) -> std::optional<QString> {
        seen.title = QString::fromLatin1(req.lpstrTitle);
        // The filter list ends at the first empty string.
        const char* p = req.lpstrFilter;
        while (*p != '\0') {
            p += std::strlen(p) + 1;
        }
        seen.filter = QByteArray(req.lpstrFilter, p - req.lpstrFilter + 1);
        seen.filterIndex = req.nFilterIndex;
        seen.maxFile = req.nMaxFile;
        seen.fileBuffer = QByteArray(req.lpstrFile, req.nMaxFile);
        seen.maxFileTitle = req.nMaxFileTitle;
        seen.titleBuffer = QByteArray(req.lpstrFileTitle, req.nMaxFileTitle);
        seen.flags = req.Flags;
        seen.structSize = req.lStructSize;
        seen.owner = req.hwndOwner != nullptr;
        seen.initialDir = QString::fromLatin1(req.lpstrInitialDir);
        seen.defExt = QString::fromLatin1(req.lpstrDefExt);
        return std::nullopt;
    });

    panel.w->CmdFile_Click();

    QCOMPARE(seen.title, QStringLiteral("calibration txt file"));
    QCOMPARE(seen.filter, QByteArray("*.txt\0*.txt;\0*.*\0*.*\0\0", 22));
    QCOMPARE(seen.filterIndex, DWORD(0));
    QCOMPARE(seen.maxFile, DWORD(154));
    QCOMPARE(seen.fileBuffer, QByteArray(154, ' '));
    QCOMPARE(seen.maxFileTitle, DWORD(255));
    QCOMPARE(seen.titleBuffer, QByteArray(255, ' ')); // the whole announced capacity is there
    QCOMPARE(seen.flags, OFN_HIDEREADONLY);
    QCOMPARE(seen.structSize, DWORD(76));
    QVERIFY(!seen.owner);
    QCOMPARE(seen.initialDir, QString());
    QCOMPARE(seen.defExt, QStringLiteral("*.txt"));
    QVERIFY(panel.boxes.shown().isEmpty());
}

void TestUpload::pathLength_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("fits");
    QTest::newRow("152") << 152 << true;
    QTest::newRow("153, the buffer's capacity") << 153 << true;
    QTest::newRow("154") << 154 << false;
    QTest::newRow("240") << 240 << false;
}

void TestUpload::pathLength() {
    QFETCH(int, length);
    QFETCH(bool, fits);
    Panel panel;
    panel.start();
    const QByteArray ini = panel.iniBytes();
    const QString base = panel.dir.path() + QLatin1Char('/');
    const QString name = QStringLiteral("/cal.txt");
    const int pad = length - static_cast<int>(base.size()) - static_cast<int>(name.size());
    QVERIFY2(pad > 0, "temporary folder too deep for this test");
    const QString folder = base + QString(pad, QLatin1Char('d'));
    QVERIFY(QDir().mkpath(folder));
    const QString path = writeFile(folder + name, table(1589, 8, counting(10)));
    QCOMPARE(path.size(), length);
    chooseFile(path);
    const QString tooLong = QStringLiteral("the file path is too long, it can have at most 153 characters");

    if (fits) {
        QCOMPARE(panel.w->GetFileName(), path); // whole, and nothing of the buffer behind it
        panel.boxes.expect(confirmation(1517, 1589, 10), platform::vbNo);
    } else {
        panel.boxes.expect(tooLong);
        QCOMPARE(panel.w->GetFileName(), QString());
        panel.boxes.expect(tooLong);
    }
    panel.w->CmdFile_Click();

    VERIFY_BOXES(panel.boxes);
    VERIFY_UNTOUCHED(panel, ini);
}

void TestUpload::formatErrors_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");

    const QString noData = QStringLiteral("format error, no data !");
    QTest::newRow("9 rows") << table(1589, 5, counting(9)) << noData;
    QTest::newRow("9 rows among skipped lines")
        << QByteArray("15,3\r\n1550 2301\r\n\t1550\t100\r\n\r\n      \r\n") + table(1589, 5, counting(9)) +
               "x\r\n"
        << noData;
    QTest::newRow("empty file") << QByteArray() << noData;
    // One single line: each value field runs on into the next row and stops at its comma.
    QByteArray lfOnly;
    for (int k = 0; k < 20; ++k) {
        lfOnly += QByteArray::number(1589 - k) + ",0\n";
    }
    QTest::newRow("LF-only line ends") << lfOnly << noData;
    QByteArray tooMany = table(1600, 1, counting(101));
    tooMany.chop(2); // the 101st row is the file's last line, without a line end
    QTest::newRow("101 rows") << tooMany << QStringLiteral("format error, too many lines!");
    QTest::newRow("rising") << QByteArray("1510,1\r\n1511,2\r\n") + table(1500, 1, counting(10))
                            << QStringLiteral("format error, the 1 wavelength1511 can't be bigger than 1510");
    QTest::newRow("first row 12000") << QByteArray("12000,1\r\n") + table(1589, 1, counting(10))
                                     << QStringLiteral(
                                            "format error, the 0 wavelength12000 can't be bigger than 10000");
    QTest::newRow("heading line") << QByteArray("wave,value\r\n") + table(1589, 1, counting(10))
                                  << QStringLiteral(
                                         "format error, the 1 wavelength1589 can't be bigger than 0");
    QTest::newRow("fraction above the rounded previous")
        << QByteArray("1550.4,1\r\n1550.3,2\r\n") + table(1540, 1, counting(10))
        << QStringLiteral("format error, the 1 wavelength1550.3 can't be bigger than 1550");
}

// Each format error: exactly its message, and nothing sent or stored.
void TestUpload::formatErrors() {
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    Panel panel;
    panel.start();
    const QByteArray ini = panel.iniBytes();
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), file));
    panel.boxes.expect(message);

    ui(panel.w).CmdFile->click();

    VERIFY_BOXES(panel.boxes);
    QCOMPARE(panel.boxes.shown().size(), 1);
    VERIFY_UNTOUCHED(panel, ini);
}

void TestUpload::rejectedNumbers_data() {
    QTest::addColumn<QByteArray>("file");
    QByteArray big = table(1589, 1, counting(10));
    QTest::newRow("value 40000") << QByteArray("1600,40000\r\n") + big;
    QTest::newRow("value -32769") << QByteArray("1600,-32769\r\n") + big;
    QTest::newRow("line longer than 32767") << QByteArray("1600,1") + QByteArray(40000, '0') + "\r\n" + big;
}

// Numbers the table cannot hold end the operation with one message (the reader's wording) and nothing sent.
void TestUpload::rejectedNumbers() {
    QFETCH(QByteArray, file);
    Panel panel;
    panel.start();
    const QByteArray ini = panel.iniBytes();
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), file));

    ui(panel.w).CmdFile->click();

    const QStringList shown = panel.boxes.shown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(!shown.first().isEmpty() && !shown.first().endsWith(QStringLiteral("correct?")),
             qPrintable(shown.first()));
    VERIFY_UNTOUCHED(panel, ini);
}

void TestUpload::unreadable_data() {
    QTest::addColumn<QString>("name"); // inside the program folder; empty = the folder itself
    QTest::newRow("a folder") << QString();
    QTest::newRow("a missing file") << QStringLiteral("nothing-here.txt");
}

void TestUpload::unreadable() {
    QFETCH(QString, name);
    Panel panel;
    panel.start();
    const QByteArray ini = panel.iniBytes();
    const QString path = name.isEmpty() ? panel.dir.path() : panel.path(name);
    chooseFile(path);

    ui(panel.w).CmdFile->click();

    const QStringList shown = panel.boxes.shown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().contains(path), qPrintable(shown.first())); // the operator learns which file
    VERIFY_UNTOUCHED(panel, ini);
}

void TestUpload::answerNo() {
    Panel panel;
    panel.start();
    const QByteArray ini = panel.iniBytes();
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), table(1580, 6, counting(10))));
    panel.boxes.expect(confirmation(1526, 1580, 10), platform::vbNo);

    ui(panel.w).CmdFile->click();

    VERIFY_BOXES(panel.boxes);
    VERIFY_UNTOUCHED(panel, ini);
}

// The whole conversation of a 10-row upload, the settings it stores and the limits it changes at once.
void TestUpload::uploadTenRows() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    const QByteArray ini = panel.iniBytes();
    const QList<int> values{5, -12, 300, 0, 32767, -32768, 7, 8, 9, 10};
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), table(1580, 6, values)));
    panel.boxes.expect(confirmation(1526, 1580, 10), platform::vbYes);
    panel.boxes.expect(kReset);

    QElapsedTimer took;
    took.start();
    ui(w).CmdFile->click();
    const qint64 ms = took.elapsed();

    VERIFY_BOXES(panel.boxes);
    const QStringList expected = uploadCommands(values, 1526, 1580);
    QCOMPARE(expected.size(), 30);
    QVERIFY(panel.device->sync());
    QCOMPARE(panel.commands(), expected);
    QCOMPARE(panel.device->received(), onTheLine(expected)); // Y-12, Y-32768: signs kept, nothing else
    QVERIFY2(ms >= 1550, qPrintable(QString::number(ms)));

    // The range is stored after the keys already there, and applies to the limits at once ...
    QCOMPARE(panel.iniBytes(), ini + "SWmin=1526\r\nSWmax=1580\r\n");
    QCOMPARE(serialLine(w).limits().swMin, 1526);
    QCOMPARE(serialLine(w).limits().swMax, 1580);
    // ... while the captions and scan boxes keep the range of the start until the next start.
    QCOMPARE(ui(w).Label6->text(), QStringLiteral("Wavelength(1510~1589)"));
    QCOMPARE(ui(w).Label7->text(), QStringLiteral("Start Wavelength(1510~1589)"));
    QCOMPARE(ui(w).Label8->text(), QStringLiteral("End Wavelength(1510~1589)"));
    QCOMPARE(ui(w).Text7->text(), QStringLiteral("1510"));
    QCOMPARE(ui(w).Text8->text(), QStringLiteral("1589"));

    panel.device->clear();
    ui(w).Text6->setText(QStringLiteral("1600"));
    ui(w).Command3->click();
    QVERIFY(panel.device->waitForCommands(1, kWaitMs));
    ui(w).Text6->setText(QStringLiteral("1500"));
    ui(w).Command3->click();
    QVERIFY(panel.device->waitForCommands(2, kWaitMs));
    QCOMPARE(panel.commands(), (QStringList{"C1580", "C1526"}));
    QCOMPARE(ui(w).Text6->text(), QStringLiteral("1526"));
    VERIFY_BOXES(panel.boxes);
}

// Port closed: every table command is attempted (three warnings at most), then the reply check fails.
void TestUpload::portClosed() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    ui(w).Command1->click();
    QVERIFY(!serialLine(w).portOpen());
    QCOMPARE(panel.replies().last(), QStringLiteral("close successfully"));
    const QByteArray ini = panel.iniBytes();
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), table(1580, 6, counting(10))));
    panel.boxes.expect(confirmation(1526, 1580, 10), platform::vbYes);
    panel.boxes.allow(kOpenPort);
    panel.boxes.expect(kNoResponse);

    QElapsedTimer took;
    took.start();
    ui(w).CmdFile->click();
    const qint64 ms = took.elapsed();

    VERIFY_BOXES(panel.boxes);
    QCOMPARE(panel.boxes.shown().count(kOpenPort), 3);
    QCOMPARE(panel.boxes.shown().last(), kNoResponse);
    // 20 table commands, each with its wait, and the extra wait before the check.
    QVERIFY2(ms >= 21 * 50, qPrintable(QString::number(ms)));
    VERIFY_UNTOUCHED(panel, ini);
}

// A device that never answers: the table goes out, the range and the stamp do not.
void TestUpload::silentDevice() {
    Panel panel;
    panel.device->setMode(PtyDevice::Mode::Silent);
    panel.start();
    const QByteArray ini = panel.iniBytes();
    const QList<int> values = counting(10);
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), table(1580, 6, values)));
    panel.boxes.expect(confirmation(1526, 1580, 10), platform::vbYes);
    panel.boxes.expect(kNoResponse);

    ui(panel.w).CmdFile->click();

    VERIFY_BOXES(panel.boxes);
    QVERIFY(panel.device->sync());
    QCOMPARE(panel.commands(), tableCommands(values));
    QCOMPARE(panel.iniBytes(), ini);
    QCOMPARE(serialLine(panel.w).limits().swMin, 1510);
    QCOMPARE(serialLine(panel.w).limits().swMax, 1589);
}

void TestUpload::replyCheck_data() {
    QTest::addColumn<int>("answered"); // the one table command (1-based) that gets an answer
    QTest::addColumn<int>("delayMs");  // how long the device takes for it
    QTest::addColumn<bool>("passes");
    QTest::newRow("last command answered at once") << 20 << 0 << true;
    // After the last command's own wait, inside the extra one before the check; early in it, so that a busy
    // machine's late reply still falls inside.
    QTest::newRow("last command answered after 60 ms") << 20 << 60 << true;
    QTest::newRow("last command answered late") << 20 << 700 << false;
    QTest::newRow("only the first command answered") << 1 << 0 << false;
}

// Only a reply that comes in the last two waits passes the check; one that arrives after it rescues nothing.
void TestUpload::replyCheck() {
    QFETCH(int, answered);
    QFETCH(int, delayMs);
    QFETCH(bool, passes);
    Panel panel;
    auto count = std::make_shared<std::atomic<int>>(0);
    panel.device->setScript([count, answered, delayMs](const QByteArray&) -> QByteArray {
        if (++*count != answered) {
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        return "LATE ";
    });
    panel.start();
    const QByteArray ini = panel.iniBytes();
    const QList<int> values = counting(10);
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), table(1580, 6, values)));
    panel.boxes.expect(confirmation(1526, 1580, 10), platform::vbYes);
    panel.boxes.expect(passes ? kReset : kNoResponse);

    ui(panel.w).CmdFile->click();

    VERIFY_BOXES(panel.boxes);
    if (passes) {
        QVERIFY(panel.device->sync());
        QCOMPARE(panel.commands(), uploadCommands(values, 1526, 1580));
        return;
    }
    if (delayMs > 0) {
        QVERIFY2(!panel.replies().contains(QStringLiteral("LATE ")),
                 "the reply was not late; test set-up broken");
        QTRY_VERIFY_WITH_TIMEOUT(panel.replies().contains(QStringLiteral("LATE ")), kWaitMs);
    }
    QVERIFY(panel.device->sync());
    QCOMPARE(panel.commands(), tableCommands(values));
    QCOMPARE(panel.iniBytes(), ini);
    QCOMPARE(serialLine(panel.w).limits().swMin, 1510);
}

// Every control that starts an operation is refused while the table, its range and its stamp go out: greyed,
// and refused by the gate too when it is reached another way (Enter, a double-click, the auto mode's tick).
// Nothing it tried is sent, changed or done afterwards; the port stays open; the controls come back as they
// were.
void TestUpload::noInterleaving() {
    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    const QList<int> values = counting(10);
    int dialogs = 0;
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), table(1580, 6, values)), &dialogs);
    panel.boxes.expect(confirmation(1526, 1580, 10), platform::vbYes);
    panel.boxes.expect(kReset);
    ui(w).Text6->setText(QStringLiteral("1600"));
    ui(w).Text10->setText(QStringLiteral("45"));
    ui(w).TxtCom->setText(QStringLiteral("Q9"));
    ui(w).List1->addItem(QStringLiteral("Q8 OK "));
    ui(w).List1->setCurrentRow(0);
    const QStringList repliesBefore = panel.replies();

    const auto doubleClickHistory = [w] {
        const QPoint line = ui(w).List1->visualItemRect(ui(w).List1->item(0)).center();
        QTest::mouseDClick(ui(w).List1->viewport(), Qt::LeftButton, {}, line);
    };
    const std::vector<std::function<void()>> attempts{
        // The port's button, as the operator presses it: closing now would lose the next X.
        [&] { QTest::mouseClick(ui(w).Command1, Qt::LeftButton); },
        [&] { ui(w).Command1->click(); },
        [&] { QTest::keyClick(ui(w).Text6, Qt::Key_Return); },
        [&] { ui(w).Command5->click(); },
        [&] {
            ui(w).CmdSend->click();
            QTest::keyClick(ui(w).TxtCom, Qt::Key_Return);
        },
        [&] { cmdPort(w)[2]->click(); },
        [&] {
            w->Command2_Click(); // the cycle on, at its first command
            timer2(w)->stop();
            QMetaObject::invokeMethod(timer2(w), "timeout"); // its tick, through the window's connection
        },
        [&] { ui(w).CmdFile->click(); },
        doubleClickHistory,
        [&] {
            ui(w).Command3->click();
            ui(w).Command4->click();
            ui(w).Command6->click();
            ui(w).Command7->click();
            ui(w).Command10->click();
        },
    };
    // Spread over the table and the stamp (the upload of 10 rows lasts at least 1.55 s).
    QList<bool> greyed;
    for (std::size_t i = 0; i < attempts.size(); ++i) {
        QTimer::singleShot(100 + 140 * int(i), Qt::PreciseTimer, [&, i] {
            greyed << (gate(w).closed() && !ui(w).Command1->isEnabled() && !ui(w).CmdSend->isEnabled() &&
                       !ui(w).List1->isEnabled() && ui(w).Command9->isEnabled());
            attempts[i]();
        });
    }

    ui(w).CmdFile->click();

    QCOMPARE(greyed, QList<bool>(static_cast<qsizetype>(attempts.size()), true));
    QCOMPARE(dialogs, 1);
    VERIFY_BOXES(panel.boxes);
    // A control that slipped through ran its handler to its end inside one of the upload's waits, so it has
    // sent all it would by now; events it left behind run here.
    QCoreApplication::processEvents();
    QVERIFY(panel.device->sync());
    QCOMPARE(panel.commands(), uploadCommands(values, 1526, 1580));
    QCOMPARE(panel.replies().mid(0, repliesBefore.size()), repliesBefore);
    QVERIFY(!panel.replies().contains(QStringLiteral("close successfully")));
    QVERIFY(serialLine(w).portOpen());
    QCOMPARE(ui(w).Command1->text(), QStringLiteral("close"));
    QCOMPARE(ui(w).Text6->text(), QStringLiteral("1600"));
    QCOMPARE(ui(w).TxtCom->text(), QStringLiteral("Q9"));
    QCOMPARE(cycle(w).phase(), 1);
    QVERIFY(ui(w).Labwait->isHidden());
    QCOMPARE(ui(w).Picture1->picture().toImage(), picBack(w)[0]->picture().toImage());
    QVERIFY(!gate(w).closed());
    for (QWidget* control : std::initializer_list<QWidget*>{ui(w).Command1, ui(w).Command3, ui(w).CmdSend,
                                                            ui(w).CmdFile, cmdPort(w)[3], ui(w).List1}) {
        QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
    }

    // Once it has ended, the panel sends again.
    panel.device->clear();
    ui(w).Command3->click();
    QVERIFY(panel.device->waitForCommands(1, kWaitMs));
    QCOMPARE(panel.commands(), QStringList{QStringLiteral("C1580")});
}

void TestUpload::busyCursor_data() {
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("boxes");
    const QString confirm = confirmation(1526, 1580, 10);
    QTest::newRow("success") << "success" << QStringList{confirm, kReset};
    QTest::newRow("no response") << "silent" << QStringList{confirm, kNoResponse};
    QTest::newRow("Exit during the upload") << "exit" << QStringList{confirm};
}

// The pointer over the window is busy while an upload runs and comes back however it ends; the boxes are
// never under an application-wide cursor, so the one that ends the upload shows the arrow.
void TestUpload::busyCursor() {
    QFETCH(QString, end);
    QFETCH(QStringList, boxes);
    Panel panel;
    if (end == "silent") {
        panel.device->setMode(PtyDevice::Mode::Silent);
    }
    panel.start();
    frmMotor* w = panel.w.get();
    chooseFile(writeFile(panel.path(QStringLiteral("cal.txt")), table(1580, 6, counting(10))));
    QStringList shown;
    bool appCursor = false;
    platform::setMsgBoxHandlerForTests([&](const QString& text, int) {
        shown << text;
        appCursor = appCursor || QGuiApplication::overrideCursor() != nullptr;
        return text.endsWith(QStringLiteral("correct?")) ? platform::vbYes : platform::vbOK;
    });
    const auto shape = [w] {
        return w->testAttribute(Qt::WA_SetCursor) ? w->cursor().shape() : Qt::ArrowCursor;
    };
    bool midway = false;
    Qt::CursorShape during = Qt::ArrowCursor;
    // The 10-row upload takes over a second.
    QTimer::singleShot(300, w, [&] {
        midway = gate(w).closed();
        during = shape();
        appCursor = appCursor || QGuiApplication::overrideCursor() != nullptr;
        if (end == "exit") {
            w->Command9_Click();
        }
    });

    ui(w).CmdFile->click();

    QVERIFY(midway);
    QCOMPARE(during, Qt::WaitCursor);
    QCOMPARE(shown, boxes);
    QVERIFY(!appCursor);
    QCOMPARE(shape(), Qt::ArrowCursor);
}

QTEST_MAIN(TestUpload)
#include "tst_upload.moc"
