// SPDX-License-Identifier: MIT
// The list box against a plain QListWidget: side by side in one window, fed the same lines and the same
// selections, the two must leave the same pixels on screen (the backing store, not a fresh rendering) after
// every step, scroll bar included. Each case runs in the program's style over Fusion and over Windows, and
// with a dark palette; CTest runs the whole at each display scale.

#include "widgets/listbox.h"
#include "widgets/pixelstyle.h"

#include <QApplication>
#include <QBackingStore>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTest>

namespace {

// Rows for each case: the style under the program's own, and the palette.
void addLooks() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("dark");
    QTest::newRow("Fusion") << QStringLiteral("Fusion") << false;
    QTest::newRow("Windows") << QStringLiteral("Windows") << false;
    QTest::newRow("Fusion, dark") << QStringLiteral("Fusion") << true;
}

class Twins {
  public:
    Twins() {
        QFETCH(QString, style);
        QFETCH(bool, dark);
        QApplication::setStyle(QStyleFactory::create(style));
        platform::usePixelStyle();
        if (dark) {
            window.setPalette(QPalette(QColor(53, 53, 53))); // light text on a dark ground
        }
        window.setFont(QFont(QStringLiteral("Liberation Sans"), 8));
        window.setFixedSize(260, 240);
        ours = new ListBox(&window);
        plain = new QListWidget(&window);
        elsewhere = new QLineEdit(&window);
        for (QListWidget* list : {static_cast<QListWidget*>(ours), plain}) {
            list->setUniformItemSizes(true);
        }
        // 128 pixels apart: a multiple of 8 device pixels at every scale tested, so the two lie alike on the
        // device pixels and under the 8 x 8 pattern brushes (the Windows style's scroll bar).
        ours->setGeometry(5, 5, 111, 208);
        plain->setGeometry(133, 5, 111, 208);
        elsewhere->setGeometry(5, 218, 100, 20);
        window.show();
        window.activateWindow();
        elsewhere->setFocus();
    }

    // Applies `step` to both lists.
    void both(const std::function<void(QListWidget*)>& step) {
        step(ours);
        step(plain);
    }

    // The pixels each list left in the window's backing store, once all pending paints are done: the device
    // pixels between its corners rounded to the nearest, as Qt gives them to it. (The offscreen platform's
    // screen grab cuts a scaled window to its size in logical pixels.)
    QImage onScreen(QWidget* list) {
        settle();
        const QRectF r(list->mapTo(&window, QPoint(0, 0)), list->size());
        const qreal ratio = window.devicePixelRatio();
        const QRect device(QPoint(qRound(r.left() * ratio), qRound(r.top() * ratio)),
                           QPoint(qRound(r.right() * ratio), qRound(r.bottom() * ratio)) - QPoint(1, 1));
        return static_cast<const QImage*>(window.backingStore()->paintDevice())
            ->copy(device)
            .convertToFormat(QImage::Format_RGB32);
    }

    static void settle() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    // Compares the two lists on screen; with `focused`, each is compared while it has the focus.
    bool same(bool focused = false, QString* why = nullptr) {
        QImage a;
        QImage b;
        if (focused) {
            ours->setFocus();
            a = onScreen(ours);
            plain->setFocus();
            b = onScreen(plain);
            elsewhere->setFocus();
        } else {
            a = onScreen(ours);
            b = onScreen(plain);
        }
        if (a.isNull() || a.size() != b.size()) {
            if (why) {
                *why = QStringLiteral("no picture to compare");
            }
            return false;
        }
        if (a != b) {
            if (why) {
                int differing = 0;
                for (int y = 0; y < a.height(); ++y) {
                    for (int x = 0; x < a.width(); ++x) {
                        differing += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
                    }
                }
                *why = QStringLiteral("%1 pixels differ (rows %2, scroll %3 of %4)")
                           .arg(differing)
                           .arg(ours->count())
                           .arg(ours->verticalScrollBar()->value())
                           .arg(ours->verticalScrollBar()->maximum());
            }
            return false;
        }
        return true;
    }

    QWidget window;
    ListBox* ours = nullptr;
    QListWidget* plain = nullptr;
    QLineEdit* elsewhere = nullptr;
};

// Lines like the device's replies: many repeats, some new texts, one too wide for the list, an empty one.
QString lineFor(int i) {
    switch (i % 7) {
    case 0:
        return QStringLiteral("OK ");
    case 1:
        return QStringLiteral("C%1 ").arg(1500 + i);
    case 2:
        return QStringLiteral("a reply far too wide for this narrow list %1").arg(i);
    case 3:
        return QString();
    default:
        return QStringLiteral("OK ");
    }
}

} // namespace

class TestListBox : public QObject {
    Q_OBJECT
  private slots:
    void growingListLooksLikeAPlainOne_data() { addLooks(); }
    void growingListLooksLikeAPlainOne() {
        Twins t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.window));
        QString why;
        QVERIFY2(t.same(false, &why), qPrintable(why));
        // Every line selected as it comes, as the reply list does: the scroll bar appears, its slider shrinks
        // to its least length and then stays put while the range keeps growing.
        for (int i = 0; i < 400; ++i) {
            t.both([i](QListWidget* l) {
                l->addItem(lineFor(i));
                l->setCurrentRow(l->count() - 1);
            });
            QVERIFY2(t.same(false, &why), qPrintable(QStringLiteral("after line %1: ").arg(i) + why));
        }
        QVERIFY(t.ours->verticalScrollBar()->isVisible());
        QVERIFY2(t.same(true, &why), qPrintable(why));
    }

    void selectingScrollingClearingAndDisabling_data() { addLooks(); }
    void selectingScrollingClearingAndDisabling() {
        Twins t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.window));
        QString why;
        t.both([](QListWidget* l) {
            for (int i = 0; i < 120; ++i) {
                l->addItem(lineFor(i));
            }
        });
        QVERIFY2(t.same(false, &why), qPrintable(why));
        const std::vector<int> rows = {0, 60, 2, 119, 45, 46, 0};
        for (int row : rows) {
            t.both([row](QListWidget* l) { l->setCurrentRow(row); });
            QVERIFY2(t.same(false, &why), qPrintable(QStringLiteral("row %1: ").arg(row) + why));
            QVERIFY2(t.same(true, &why), qPrintable(QStringLiteral("row %1 focused: ").arg(row) + why));
        }
        t.both([](QListWidget* l) { l->verticalScrollBar()->setValue(30); });
        QVERIFY2(t.same(false, &why), qPrintable(why));
        t.both([](QListWidget* l) { l->setEnabled(false); });
        QVERIFY2(t.same(false, &why), qPrintable(QStringLiteral("disabled: ") + why));
        t.both([](QListWidget* l) { l->setEnabled(true); });
        // Emptied, the scroll bar goes; one line back, no scroll bar yet.
        t.both([](QListWidget* l) { l->clear(); });
        QVERIFY2(t.same(false, &why), qPrintable(QStringLiteral("cleared: ") + why));
        QVERIFY(!t.ours->verticalScrollBar()->isVisible());
        t.both([](QListWidget* l) {
            l->addItem(QStringLiteral("OK "));
            l->setCurrentRow(0);
        });
        QVERIFY2(t.same(true, &why), qPrintable(QStringLiteral("one line: ") + why));
    }

    void linesOfAnotherLookAreDrawnTheirOwnWay_data() { addLooks(); }
    void linesOfAnotherLookAreDrawnTheirOwnWay() {
        // A line with its own colours or an icon is not copied from a picture of another line.
        Twins t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.window));
        QString why;
        t.both([](QListWidget* l) {
            l->addItem(QStringLiteral("OK "));
            l->addItem(QStringLiteral("OK "));
            l->item(1)->setForeground(Qt::red);
            l->addItem(QStringLiteral("OK "));
            l->item(2)->setBackground(Qt::yellow);
            l->addItem(QStringLiteral("OK "));
            l->item(3)->setCheckState(Qt::Checked);
            l->addItem(QStringLiteral("OK "));
            QFont bold = l->font();
            bold.setBold(true);
            l->item(4)->setFont(bold);
        });
        QVERIFY2(t.same(false, &why), qPrintable(why));
        t.both([](QListWidget* l) { l->setCurrentRow(2); });
        QVERIFY2(t.same(true, &why), qPrintable(why));
    }
};

QTEST_MAIN(TestListBox)
#include "tst_listbox.moc"
