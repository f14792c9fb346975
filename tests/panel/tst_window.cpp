// SPDX-License-Identifier: MIT
// The window itself: layout, the never-shown controls, tab order, the show key, the switch drawings, Exit.

#include "support/panel.h"

#include <QSignalSpy>
#include <QTest>

using testsupport::Panel;

namespace {

// Counts the key presses that reach one control.
class KeyCounter : public QObject {
  public:
    int f1 = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
            ++f1;
        }
        return false;
    }
};

int redPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += (c.red() > 180 && c.green() < 80 && c.blue() < 80) ? 1 : 0;
        }
    }
    return n;
}

} // namespace

class tst_window : public QObject {
    Q_OBJECT
  private slots:
    void sizeAndFrame();
    void geometry_data();
    void geometry();
    void startTextsAndHiddenControls();
    void fontsAndTabOrder();
    void showKey_data();
    void showKey();
    void showKeyKeepsTheFocusedControlsKey();
    void switchDrawings();
    void exitAndCloseBoxUnloadOnce();
};

void tst_window::sizeAndFrame() {
    Panel panel;
    panel.start();
    // 6252 x 5640 twips at 15 twips a pixel.
    QCOMPARE(panel.w->width(), 417);
    QCOMPARE(panel.w->height(), 376);
    QCOMPARE(panel.w->windowTitle(), QString("Merovask Tunable Filter Control"));
    QVERIFY(!(panel.w->windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(panel.w->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(panel.w->minimumSize(), panel.w->maximumSize());
    QCOMPARE(panel.w->palette().color(QPalette::Window), QColor(Qt::white));
    panel.w->resize(600, 600); // a fixed frame keeps its size and every control its place
    QCOMPARE(panel.w->size(), QSize(417, 376));
}

void tst_window::geometry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    const auto row = [](const char* name, int l, int t, int w, int h) {
        QTest::newRow(name) << QString(name) << QRect(l, t, w, h);
    };
    row("Frame2", 288, 252, 3900, 1920);
    row("Text6", 2340, 360, 480, 324);
    row("Frame1", 288, 2304, 3900, 2496);
    row("Command4", 2952, 2052, 840, 324);
    row("Frame3", 4428, 252, 1668, 1056);
    row("Command1", 540, 252, 996, 312);
    row("List2", 4428, 1656, 1668, 3120);
    row("Command9", 4968, 5040, 1104, 384);
    row("TxtCom", 6660, 864, 1332, 252);
    row("Comb", 6660, 864, 1596, 288);
    row("CmdFile", 7440, 4992, 996, 420);
    row("Label13", 9468, 5220, 156, 156);
    row("Picture1", 3768, 7116, 4704, 1608);
    row("CmdPort3", 4032, 48 + 360 * 3, 300, 276);
    row("CmdClear", 252, 5004, 852, 276);
    row("Text14", 9108, 3168, 336, 300);
}

void tst_window::geometry() {
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    Panel panel(QByteArray(), false);
    panel.boxes.allow("can't open comm port 1");
    panel.w = std::make_unique<frmMotor>();
    auto* control = panel.w->findChild<QWidget*>(name);
    QVERIFY(control);
    const QRect px = control->geometry();
    // Each edge within one pixel of the designed twips.
    QVERIFY2(std::abs(px.x() * 15 - twips.x()) <= 15 && std::abs(px.y() * 15 - twips.y()) <= 15 &&
                 std::abs(px.width() * 15 - twips.width()) <= 15 &&
                 std::abs(px.height() * 15 - twips.height()) <= 15,
             qPrintable(QString("%1 at %2,%3 %4x%5 px")
                            .arg(name)
                            .arg(px.x())
                            .arg(px.y())
                            .arg(px.width())
                            .arg(px.height())));
}

void tst_window::startTextsAndHiddenControls() {
    Panel panel(QByteArray(), false);
    auto w = std::make_unique<frmMotor>();
    const QList<QPair<QString, QString>> texts = {
        {"Frame2", "Specific Wavelength"},
        {"Frame1", "Scan"},
        {"Frame3", "comm port"},
        {"Command3", "Send"},
        {"Command6", "Increase"},
        {"Command7", "Decrease"},
        {"Command5", "Setting"},
        {"Command4", "Scan"},
        {"Command1", "open"},
        {"Command10", "Calibration"},
        {"Label1", "Reply"},
        {"Command9", "Exit"},
        {"CmdSend", "Send"},
        {"CmdFile", "Configure"},
        {"Labwait", "waiting......"},
        {"Label2", "Infrad Switch"},
        {"Label3", "1x4"},
        {"Command8", "show"},
        {"CmdClear", "clear"},
        {"Command2", "start auto"},
        {"Text2", "z"},
        {"Text4", "30"},
        {"Text3", "g0"},
        {"Text5", "1"},
        {"Text13", "p"},
        {"Text14", "1"},
        {"Label10", "Scan Span(1~30)"},
        {"Label9", "Stay Time (x100ms)"},
        {"Label11", "Fine Tuning Up(1~30)"},
        {"Label12", "Fine Tuning Down(1~30)"},
    };
    for (const auto& [name, text] : texts) {
        QObject* control = w->findChild<QObject*>(name);
        QVERIFY2(control, qPrintable(name));
        const QString shown =
            control->property(qobject_cast<QGroupBox*>(control) ? "title" : "text").toString();
        QCOMPARE(shown, text);
    }
    w->show();
    for (const char* name : {"Command8", "CmdClear", "TxtReply", "Command2", "Text2", "Text3", "Text4",
                             "Text5", "Text13", "Text14", "PicBack0", "PicBack3", "Labwait"}) {
        auto* control = w->findChild<QWidget*>(name);
        QVERIFY2(control && !control->isVisible(), name);
    }
    QVERIFY(ui(w).TxtCom->isVisible());
    QVERIFY(!serialLine(w).timeoutArmed());
    QVERIFY(timer2(w) && !timer2(w)->isActive() && timer2(w)->interval() == 1000);
}

void tst_window::fontsAndTabOrder() {
    Panel panel(QByteArray(), false);
    panel.boxes.allow("can't open comm port 1");
    panel.start();
    frmMotor* w = panel.w.get();
    QCOMPARE(ui(w).Command9->font().pointSize(), 12);
    for (QPushButton* button : cmdPort(w)) {
        QCOMPARE(button->font().family(), QString("Times New Roman"));
    }
    QVERIFY(QTest::qWaitForWindowActive(w));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(ui(w).TxtCom));

    // The focusable controls that are shown, in the order Tab visits them.
    const QList<QWidget*> expected = {
        ui(w).TxtCom,    ui(w).CmdSend, ui(w).List1,  ui(w).Comb,     cmdPort(w)[3],  cmdPort(w)[2],
        cmdPort(w)[1],   cmdPort(w)[0], ui(w).List2,  ui(w).Command4, ui(w).Command5, ui(w).Text7,
        ui(w).Text8,     ui(w).Text9,   ui(w).Text10, ui(w).Text6,    ui(w).Command3, ui(w).Command6,
        ui(w).Command7,  ui(w).Text11,  ui(w).Text12, ui(w).Command1, ui(w).Text1,    ui(w).Command9,
        ui(w).Command10, ui(w).CmdFile};
    QList<QWidget*> visited;
    QWidget* current = ui(w).TxtCom;
    for (int i = 0; i < expected.size(); ++i) {
        visited << current;
        do {
            current = current->nextInFocusChain();
        } while (current != ui(w).TxtCom &&
                 (!current->isVisibleTo(w) || current->focusPolicy() == Qt::NoFocus ||
                  !(current->focusPolicy() & Qt::TabFocus)));
    }
    QCOMPARE(visited, expected);
}

void tst_window::showKey_data() {
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("shows");
    QTest::newRow("Shift+F1") << int(Qt::ShiftModifier) << true;
    QTest::newRow("Ctrl+F1") << int(Qt::ControlModifier) << true;
    QTest::newRow("Alt+F1") << int(Qt::AltModifier) << true;
    QTest::newRow("Ctrl+Shift+F1") << int(Qt::ControlModifier | Qt::ShiftModifier) << true;
    QTest::newRow("F1 alone") << int(Qt::NoModifier) << false;
}

void tst_window::showKey() {
    QFETCH(int, modifiers);
    QFETCH(bool, shows);
    Panel panel;
    panel.start();
    const int height = panel.w->height();
    QTest::keyClick(ui(panel.w).List2, Qt::Key_F1, Qt::KeyboardModifiers(modifiers));
    // Label13's left edge (631 px) + 10 pixels is the outer width, frame included.
    QCOMPARE(panel.w->frameGeometry().width(),
             shows ? 641 : 417 + panel.w->frameGeometry().width() - panel.w->width());
    QCOMPARE(debugMode(panel.w), shows);
    QCOMPARE(panel.w->height(), height);
    // Not a toggle: the key again leaves the window as wide.
    const int width = panel.w->width();
    QTest::keyClick(ui(panel.w).Text6, Qt::Key_F1, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(panel.w->width(), width);
    if (shows) {
        const QRect inView = panel.w->rect();
        for (QWidget* control :
             {static_cast<QWidget*>(ui(panel.w).TxtCom), static_cast<QWidget*>(ui(panel.w).CmdSend),
              static_cast<QWidget*>(ui(panel.w).List1), static_cast<QWidget*>(ui(panel.w).CmdFile)}) {
            QVERIFY(inView.contains(control->geometry()));
        }
        QVERIFY(!inView.contains(ui(panel.w).Picture1->geometry()));
    }
}

void tst_window::showKeyKeepsTheFocusedControlsKey() {
    Panel panel;
    panel.start();
    KeyCounter counter;
    ui(panel.w).Text6->installEventFilter(&counter);
    ui(panel.w).Text6->setFocus();
    QTest::keyClick(ui(panel.w).Text6, Qt::Key_F1, Qt::ShiftModifier);
    QCOMPARE(counter.f1, 1);
    QVERIFY(debugMode(panel.w));
    QCOMPARE(panel.w->frameGeometry().width(), 641);
}

void tst_window::switchDrawings() {
    Panel panel;
    panel.start();
    QImage pictures[4];
    for (int i = 0; i < 4; ++i) {
        pictures[i] = picBack(panel.w)[static_cast<std::size_t>(i)]->picture().toImage();
        QCOMPARE(pictures[i].size(), ui(panel.w).Picture1->size());
        QVERIFY(redPixels(pictures[i]) > 50);
        for (int j = 0; j < i; ++j) {
            QVERIFY(pictures[i] != pictures[j]);
        }
    }
    QCOMPARE(ui(panel.w).Picture1->picture().toImage(), pictures[0]);
    // The red output lies at the height of its button.
    for (int i = 0; i < 4; ++i) {
        const int y = cmdPort(panel.w)[static_cast<std::size_t>(i)]->geometry().center().y();
        const int x = cmdPort(panel.w)[static_cast<std::size_t>(i)]->x() - 6;
        const QColor c = pictures[i].pixelColor(x, y);
        QVERIFY2(c.red() > 150 && c.blue() < 100,
                 qPrintable(QString("output %1 is %2").arg(i + 1).arg(c.name())));
    }
}

void tst_window::exitAndCloseBoxUnloadOnce() {
    for (bool viaExit : {true, false}) {
        Panel panel;
        panel.start();
        QSignalSpy unloaded(panel.w.get(), &frmMotor::Unloaded);
        ui(panel.w).Text6->setText("1555");
        if (viaExit) {
            ui(panel.w).Command9->click();
        } else {
            panel.w->close();
        }
        QCOMPARE(unloaded.count(), 1);
        QVERIFY(!panel.w->isVisible());
        QVERIFY(!serialLine(panel.w).port().PortOpen());
        QVERIFY(panel.iniBytes().contains("Cch=1555\r\n"));
        panel.w->close();
        panel.w->Form_Unload();
        QCOMPARE(unloaded.count(), 1);
    }
}

QTEST_MAIN(tst_window)
#include "tst_window.moc"
