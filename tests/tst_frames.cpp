// The window's frames at the display scale this process runs at (CTest runs it once per factor, through
// QT_SCALE_FACTOR or the screen's DPI): along every edge of every framed control where the window at 100 %
// shows a line, each device row (or column) of that edge must hold a pixel of the line's colour. The 100 %
// picture comes from a second run of this program at factor 1, so each factor is compared with what the
// operator sees at 100 %.

#include "support/panel.h"

#include <QBackingStore>
#include <QGroupBox>
#include <QProcess>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QTest>

#include <cmath>

using testsupport::Panel;

namespace {

constexpr int kLineContrast = 24; // a frame line stands out this much from what lies just outside it
constexpr int kSameColour = 4;    // ... and is drawn in its own colour, not a blend with its surroundings

int distance(QRgb a, QRgb b) {
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
}

// What the window holds in device pixels. (The offscreen platform's screen grab cuts a scaled window to its
// size in logical pixels.)
QImage onScreen(QWidget* window) {
    settle();
    return static_cast<const QImage*>(window->backingStore()->paintDevice())
        ->convertToFormat(QImage::Format_RGB32);
}

// The window as the operator sees it at start: the device answered, the engineering view open.
void showPanel(Panel& panel) {
    panel.start();
    QTest::keyClick(panel.w->List2, Qt::Key_F1, Qt::ShiftModifier);
}

bool framed(const QWidget* w) {
    if (qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
        qobject_cast<const QComboBox*>(w) || qobject_cast<const QGroupBox*>(w)) {
        return true;
    }
    const auto* frame = qobject_cast<const QFrame*>(w);
    return frame != nullptr && frame->frameShape() != QFrame::NoFrame;
}

// One edge of a control in window coordinates: `at` is the outermost line of pixels, `inward` the step
// towards the inside, `along` the positions from one end to the other.
struct Edge {
    const char* name;
    bool vertical;
    int at;
    int inward;
    int from;
    int to;
};

QRgb pixel(const QImage& image, const Edge& e, int depth, int t) {
    const int across = e.at + depth * e.inward;
    return e.vertical ? image.pixel(across, t) : image.pixel(t, across);
}

} // namespace

class tst_frames : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void framesAreDrawn_data();
    void framesAreDrawn();
    void nothingChangesAt100Percent();

  private:
    Panel panel_;
    QImage reference_; // the window at 100 %, from the run at factor 1
    QImage scaled_;
    qreal ratio_ = 1;
};

void tst_frames::initTestCase() {
    QTemporaryDir dir;
    QProcess reference;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("1"));
    reference.setProcessEnvironment(env);
    const QString file = dir.filePath(QStringLiteral("100.png"));
    reference.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--reference"), file});
    QVERIFY(reference.waitForFinished(60000));
    QCOMPARE(reference.exitCode(), 0);
    QVERIFY(reference_.load(file));

    showPanel(panel_);
    QVERIFY(QTest::qWaitForWindowExposed(panel_.w.get()));
    scaled_ = onScreen(panel_.w.get());
    ratio_ = panel_.w->devicePixelRatio();
    // (The two may differ in width by a pixel or two: the offscreen platform's window frame is a fixed number
    // of device pixels, and the engineering view sets the outer width.)
    QCOMPARE(scaled_.size(), (QSizeF(panel_.w->size()) * ratio_).toSize());
}

void tst_frames::framesAreDrawn_data() {
    QTest::addColumn<QString>("name");
    const QRect view = panel_.w->rect();
    for (const QWidget* w : panel_.w->findChildren<QWidget*>()) {
        if (w->isVisible() && framed(w) &&
            view.contains(QRect(w->mapTo(panel_.w.get(), QPoint()), w->size()))) {
            QTest::newRow(qPrintable(w->objectName())) << w->objectName();
        }
    }
}

void tst_frames::framesAreDrawn() {
    QFETCH(QString, name);
    const auto* control = panel_.w->findChild<QWidget*>(name);
    QVERIFY(control);
    const QRect r(control->mapTo(panel_.w.get(), QPoint()), control->size());
    const Edge edges[] = {{"left", true, r.left(), 1, r.top(), r.bottom()},
                          {"right", true, r.right(), -1, r.top(), r.bottom()},
                          {"top", false, r.top(), 1, r.left(), r.right()},
                          {"bottom", false, r.bottom(), -1, r.left(), r.right()}};
    int checked = 0;
    for (const Edge& e : edges) {
        // At 100 %: how deep inside the edge the line lies and its colour, seen three quarters along the edge
        // (away from a group box's title).
        const int probe = e.from + (e.to - e.from) * 3 / 4;
        const QRgb outside = pixel(reference_, e, -1, probe);
        int depth = 0;
        const int deepest = (e.vertical ? r.width() : r.height()) / 2;
        while (depth < deepest && distance(pixel(reference_, e, depth, probe), outside) <= kLineContrast) {
            ++depth;
        }
        if (depth == deepest) {
            continue;
        }
        const QRgb colour = pixel(reference_, e, depth, probe);
        const auto onLine = [&](int t) {
            return distance(pixel(reference_, e, depth, t), colour) <= kSameColour;
        };
        // Where the line runs at 100 %, away from its rounded or shaded ends, every device row across it must
        // show its colour near where the line lands at this scale.
        const int line = e.at + depth * e.inward;
        const int near0 = static_cast<int>(std::lround(line * ratio_)) - 1;
        const int near1 = static_cast<int>(std::lround((line + 1) * ratio_));
        int run = 0;
        for (int t = e.from + 1; t < e.to; ++t) {
            if (!onLine(t - 1) || !onLine(t) || !onLine(t + 1)) {
                continue;
            }
            ++run;
            const int first = static_cast<int>(std::ceil(t * ratio_ - 0.5));
            const int last = static_cast<int>(std::ceil((t + 1) * ratio_ - 0.5)) - 1;
            for (int d = first; d <= last; ++d) {
                int best = 255;
                for (int across = near0; across <= near1; ++across) {
                    best = std::min(
                        best,
                        distance(e.vertical ? scaled_.pixel(across, d) : scaled_.pixel(d, across), colour));
                }
                QVERIFY2(
                    best <= kSameColour,
                    qPrintable(QStringLiteral("%1 edge, line %2 px inside in #%3: device %4 %5 has no such "
                                              "pixel (nearest off by %6)")
                                   .arg(QLatin1String(e.name))
                                   .arg(depth)
                                   .arg(colour & 0xffffff, 6, 16, QLatin1Char('0'))
                                   .arg(QLatin1String(e.vertical ? "row" : "column"))
                                   .arg(d)
                                   .arg(best)));
            }
        }
        checked += run > (e.to - e.from) / 3 ? 1 : 0;
    }
    QVERIFY2(checked >= 2, "fewer than two edges show a frame line at 100 %");
}

void tst_frames::nothingChangesAt100Percent() {
    if (ratio_ != 1) {
        QSKIP("compared at 100 % only");
    }
    // The same window with every control drawn by the plain style, as Qt would draw it.
    const QStyle* current = QApplication::style();
    if (const auto* proxy = qobject_cast<const QProxyStyle*>(current)) {
        current = proxy->baseStyle();
    }
    std::unique_ptr<QStyle> plain(QStyleFactory::create(current->name()));
    QVERIFY(plain);
    const QImage ours = onScreen(panel_.w.get());
    panel_.w->setStyle(plain.get());
    for (QWidget* w : panel_.w->findChildren<QWidget*>()) {
        w->setStyle(plain.get());
    }
    panel_.w->repaint();
    const QImage theirs = onScreen(panel_.w.get());
    for (QWidget* w : panel_.w->findChildren<QWidget*>()) {
        w->setStyle(nullptr);
    }
    panel_.w->setStyle(nullptr);
    QCOMPARE(ours.size(), theirs.size());
    QVERIFY(ours == theirs);
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--reference") {
        Panel panel;
        showPanel(panel);
        if (!QTest::qWaitForWindowExposed(panel.w.get())) {
            return 1;
        }
        return onScreen(panel.w.get()).save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    tst_frames test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frames.moc"
