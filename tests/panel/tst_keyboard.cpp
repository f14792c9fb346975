// SPDX-License-Identifier: MIT
// The window for screen readers and the keyboard: what each reachable control is called, and Enter.

#include "support/panel.h"

#include <QAccessible>
#include <QtTest>

using testsupport::Panel;

class TestKeyboard : public QObject {
    Q_OBJECT

  private slots:
    void accessibleNames();
    void enter_data();
    void enter();
};

// Every control that Tab reaches says what it is; the boxes are named after their labels, not their frame.
void TestKeyboard::accessibleNames() {
    Panel panel;
    panel.start();
    QMap<QString, QString> expected{
        {"Text6", "Wavelength"},
        {"Text11", "Fine Tuning Up"},
        {"Text12", "Fine Tuning Down"},
        {"Text7", "Start Wavelength"},
        {"Text8", "End Wavelength"},
        {"Text9", "Stay Time (x100ms)"},
        {"Text10", "Scan Span"},
        {"Text1", "comm port"},
        {"List2", "Reply"},
        {"List1", "History"},
        {"TxtCom", "Command"},
        {"Comb", "Command help"},
        {"CmdPort0", "Switch output 1"},
        {"CmdPort1", "Switch output 2"},
        {"CmdPort2", "Switch output 3"},
        {"CmdPort3", "Switch output 4"},
        {"Command3", "Send"},
        {"CmdSend", "Send"},
        {"Command9", "Exit"},
    };
    QStringList reachable;
    for (QWidget* widget : panel.w->findChildren<QWidget*>()) {
        if (widget->focusPolicy() == Qt::NoFocus || !widget->isVisibleTo(panel.w.get()) ||
            widget->objectName().startsWith(QLatin1String("qt_"))) {
            continue;
        }
        const QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(face != nullptr);
        const QString name = face->text(QAccessible::Name);
        reachable << widget->objectName();
        QVERIFY2(!name.isEmpty(), qPrintable(widget->objectName()));
        if (expected.contains(widget->objectName())) {
            QCOMPARE(name, expected.value(widget->objectName()));
        }
    }
    for (const QString& control : expected.keys()) {
        QVERIFY2(reachable.contains(control), qPrintable(control));
    }
    // Never-shown controls stay out of reach.
    for (const char* hidden : {"TxtReply", "Text2", "Command2", "CmdClear", "Command8"}) {
        QVERIFY2(!reachable.contains(QLatin1String(hidden)), hidden);
    }
}

// Enter in a box: the bytes on the line, compared with those of a click on `button` (none: nothing is sent).
void TestKeyboard::enter_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("line");

    for (const auto& [key, label] :
         {std::pair{int(Qt::Key_Return), "Return"}, {int(Qt::Key_Enter), "Enter"}}) {
        const auto row = [&, label = label](const char* name) {
            return &QTest::newRow(qPrintable(QStringLiteral("%1 in %2").arg(label, name)));
        };
        *row("TxtCom") << "TxtCom"
                       << " v "
                       << "CmdSend" << QByteArray("v ,");
        *row("TxtCom get") << "TxtCom"
                           << "get"
                           << "CmdSend" << QByteArray("W103,W104,W105,");
        *row("Text6") << "Text6"
                      << "1600"
                      << "Command3" << QByteArray("C1589,");
        for (const char* other : {"Text11", "Text12", "Text7", "Text8", "Text9", "Text10", "Text1"}) {
            *row(other) << other << "5"
                        << "" << QByteArray();
        }
    }
}

void TestKeyboard::enter() {
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(QByteArray, line);
    const bool keypad = QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("Enter"));

    Panel panel;
    panel.start();
    auto* edit = panel.w->findChild<QLineEdit*>(box);
    QVERIFY(edit != nullptr);
    const auto onTheLine = [&](const std::function<void()>& act) {
        panel.device->clear();
        edit->setText(typed);
        act();
        return panel.device->sync() ? panel.device->received() : QByteArray("(line gone)");
    };

    const QByteArray byKey = onTheLine([&] {
        edit->setFocus();
        QTest::keyClick(edit, keypad ? Qt::Key_Enter : Qt::Key_Return,
                        keypad ? Qt::KeypadModifier : Qt::NoModifier);
    });
    QCOMPARE(byKey, line);
    QCOMPARE(ui(panel.w).Command1->text(),
             QStringLiteral("close")); // Enter in the port box is no click either
    if (!button.isEmpty()) {
        const QByteArray byClick = onTheLine([&] { panel.w->findChild<QPushButton*>(button)->click(); });
        QCOMPARE(byKey, byClick);
    }
    VERIFY_BOXES(panel.boxes);
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
