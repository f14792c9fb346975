// SPDX-License-Identifier: MIT
// The window's frames at the display scale this process runs at (CTest runs it once per factor): wherever the
// window at 100 % shows a frame line along a framed control's side, every device row (column) across that
// side must show a pixel of the line's colour. The 100 % picture comes from a run of this program at
// factor 1.

#include "support/panel.h"

#include <QBackingStore>
#include <QGroupBox>
#include <QProcess>
#include <QStyleFactory>
#include <QTest>

using testsupport::Panel;

namespace {

constexpr int kLineContrast = 24; // a frame line stands out this much from what lies just outside it
constexpr int kSameColour = 4;    // ... and is drawn in its own colour, not blended with its surroundings

int distance(QRgb a, QRgb b) {
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// The window's device pixels (the offscreen screen grab cuts a scaled window to its logical size).
QImage onScreen(QWidget* window) {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    return static_cast<const QImage*>(window->backingStore()->paintDevice())
        ->convertToFormat(QImage::Format_RGB32);
}

// As the operator sees it at start, with the engineering view open.
QImage shownPanel(Panel& panel) {
    panel.start();
    QTest::keyClick(ui(panel.w).List2, Qt::Key_F1, Qt::ShiftModifier);
    return QTest::qWaitForWindowExposed(panel.w.get()) ? onScreen(panel.w.get()) : QImage();
}

} // namespace

class tst_frames : public QObject {
    Q_OBJECT
    Panel panel_;
    QImage scaled_;
    QImage reference_;

  private slots:
    void initTestCase() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("100.png"));
        QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(),
                                   {QStringLiteral("--reference"), file, QStringLiteral("-platform"),
                                    QStringLiteral("offscreen")}),
                 0);
        QVERIFY(reference_.load(file));
        scaled_ = shownPanel(panel_);
        QCOMPARE(scaled_.size(), (QSizeF(panel_.w->size()) * panel_.w->devicePixelRatio()).toSize());
    }

    void framesAreDrawn_data() {
        QTest::addColumn<QString>("name");
        for (const QWidget* w : panel_.w->findChildren<QWidget*>()) {
            const auto* frame = qobject_cast<const QFrame*>(w);
            if (w->isVisible() &&
                panel_.w->rect().contains(QRect(w->mapTo(panel_.w.get(), QPoint()), w->size())) &&
                ((frame && frame->frameShape() != QFrame::NoFrame) ||
                 qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
                 qobject_cast<const QComboBox*>(w) || qobject_cast<const QGroupBox*>(w))) {
                QTest::newRow(qPrintable(w->objectName())) << w->objectName();
            }
        }
    }

    void framesAreDrawn() {
        QFETCH(QString, name);
        const auto* control = panel_.w->findChild<QWidget*>(name);
        const QRect r(control->mapTo(panel_.w.get(), QPoint()), control->size());
        const qreal ratio = panel_.w->devicePixelRatio();
        int sides = 0;
        for (int side = 0; side < 4; ++side) { // left, right, top, bottom
            const bool vertical = side < 2;
            const int edge = side == 0 ? r.left() : side == 1 ? r.right() : side == 2 ? r.top() : r.bottom();
            const int inward = side % 2 == 0 ? 1 : -1;
            const int from = vertical ? r.top() : r.left();
            const int to = vertical ? r.bottom() : r.right();
            const auto at = [&](int depth, int t) {
                return vertical ? QPoint(edge + inward * depth, t) : QPoint(t, edge + inward * depth);
            };
            // At 100 %: how deep inside the side its line lies, and its colour, three quarters along (away
            // from a group box's title).
            const int probe = from + (to - from) * 3 / 4;
            const QRgb outside = reference_.pixel(at(-1, probe));
            int depth = 0;
            while (depth < (to - from) / 2 &&
                   distance(reference_.pixel(at(depth, probe)), outside) <= kLineContrast) {
                ++depth;
            }
            const QRgb colour = reference_.pixel(at(depth, probe));
            const auto onLine = [&](int t) {
                return distance(reference_.pixel(at(depth, t)), colour) <= kSameColour;
            };
            int run = 0;
            for (int t = from + 1; t < to; ++t) {
                if (!onLine(t - 1) || !onLine(t) || !onLine(t + 1)) {
                    continue; // a rounded or shaded end, or covered by another control
                }
                ++run;
                // Where the line lands at this scale, give or take a device pixel.
                const int across = edge + inward * depth;
                for (int d = qCeil(t * ratio - 0.5); d < qCeil((t + 1) * ratio - 0.5); ++d) {
                    int best = 255;
                    for (int c = qRound(across * ratio) - 1; c <= qRound((across + 1) * ratio); ++c) {
                        best = std::min(
                            best, distance(scaled_.pixel(vertical ? QPoint(c, d) : QPoint(d, c)), colour));
                    }
                    QVERIFY2(best <= kSameColour,
                             qPrintable(QString::asprintf("side %d, line #%06x: device %d off by %d", side,
                                                          colour & 0xffffff, d, best)));
                }
            }
            sides += run > (to - from) / 3 ? 1 : 0;
        }
        QVERIFY2(sides >= 2, "fewer than two sides show a line at 100 %");
    }

    void nothingChangesAt100Percent() {
        if (panel_.w->devicePixelRatio() != 1) {
            QSKIP("at 100 % only");
        }
        panel_.w->repaint();
        const QImage ours = onScreen(panel_.w.get());
        // The same window under plain Fusion, the style the program gets here.
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        panel_.w->repaint();
        QVERIFY(onScreen(panel_.w.get()) == ours);
    }
};

int main(int argc, char* argv[]) {
    const bool reference = argc > 2 && qstrcmp(argv[1], "--reference") == 0; // the window at 100 %
    if (reference) {
        qputenv("QT_SCALE_FACTOR", "1");
    }
    QApplication app(argc, argv);
    QApplication::setCursorFlashTime(0); // the same picture whenever it is taken
    if (reference) {
        Panel panel;
        return shownPanel(panel).save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    tst_frames test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frames.moc"
