// SPDX-License-Identifier: MIT
#include "widgets/listbox.h"

#include <QCache>
#include <QImage>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>

#include <cmath>
#include <memory>
#include <optional>

namespace {

// What the picture of a line depends on.
struct LineKey {
    QString text;
    QFont font;
    QSize size;
    int state = 0;
    qint64 palette = 0;
    int colorGroup = 0;
    QRgb background = 0;
    qreal ratio = 1;
    int format = 0;
    int alignment = 0;
    int elide = 0;
    int features = 0;
    friend bool operator==(const LineKey&, const LineKey&) = default;
};

size_t qHash(const LineKey& k, size_t seed = 0) {
    return qHashMulti(seed, k.text, k.font, k.size.width(), k.size.height(), k.state, k.palette, k.colorGroup,
                      k.background, k.ratio, k.format, k.alignment, k.elide, k.features);
}

// What the size of a line depends on.
struct SizeKey {
    QString text;
    QFont font;
    int features = 0;
    friend bool operator==(const SizeKey&, const SizeKey&) = default;
};

size_t qHash(const SizeKey& k, size_t seed = 0) {
    return qHashMulti(seed, k.text, k.font, k.features);
}

// Draws each line the standard way once per look (text, size, state, palette, font, background) into a
// picture and copies that picture from then on. A line the copy could not reproduce exactly (a check box, an
// icon, a background of its own, the focus frame, a painter that scales or blends) is drawn the standard way
// every time.
class CachedLineDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        QColor background;
        qreal ratio = 1;
        QImage::Format format = QImage::Format_Invalid;
        if (!copyable(painter, opt, &background, &ratio, &format)) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const LineKey key{opt.text,
                          opt.font,
                          opt.rect.size(),
                          static_cast<int>(opt.state),
                          opt.palette.cacheKey(),
                          static_cast<int>(opt.palette.currentColorGroup()),
                          background.rgba(),
                          ratio,
                          static_cast<int>(format),
                          static_cast<int>(opt.displayAlignment),
                          static_cast<int>(opt.textElideMode),
                          static_cast<int>(opt.features)};
        if (const QImage* picture = pictures_.object(key)) {
            painter->drawImage(opt.rect.topLeft(), *picture);
            return;
        }
        // Drawn in the format of the window's own picture, so that blending rounds the same way.
        auto picture = std::make_unique<QImage>(opt.rect.size() * ratio, format);
        picture->setDevicePixelRatio(ratio);
        picture->fill(background);
        {
            QPainter p(picture.get());
            QStyleOptionViewItem at = option;
            at.rect.moveTopLeft(QPoint(0, 0));
            QStyledItemDelegate::paint(&p, at, index);
        }
        painter->drawImage(opt.rect.topLeft(), *picture);
        pictures_.insert(key, picture.release());
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        if (opt.features != QStyleOptionViewItem::HasDisplay && opt.features != QStyleOptionViewItem::None) {
            return QStyledItemDelegate::sizeHint(option, index);
        }
        const SizeKey key{opt.text, opt.font, static_cast<int>(opt.features)};
        if (const QSize* size = sizes_.object(key)) {
            return *size;
        }
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        sizes_.insert(key, new QSize(size));
        return size;
    }

  private:
    // Whether a picture of the line, drawn on `background`, copies exactly onto what the view's painter would
    // have drawn there.
    static bool copyable(QPainter* painter, const QStyleOptionViewItem& opt, QColor* background, qreal* ratio,
                         QImage::Format* format) {
        const auto* view = qobject_cast<const QAbstractItemView*>(opt.widget);
        if (view == nullptr || painter->device() != view->viewport() ||
            !view->viewport()->autoFillBackground()) {
            return false;
        }
        if ((opt.features & ~QStyleOptionViewItem::HasDisplay) != 0 ||
            opt.backgroundBrush.style() != Qt::NoBrush) {
            return false;
        }
        // The focus frame of the current line is drawn antialiased, and the rasteriser rounds its corners
        // a little differently at another height: drawn in place.
        if (opt.state.testFlag(QStyle::State_HasFocus)) {
            return false;
        }
        // The view paints its background with the viewport's palette in the viewport's colour group.
        const QWidget* viewport = view->viewport();
        const QBrush brush = viewport->palette().brush(viewport->backgroundRole());
        if (brush.style() != Qt::SolidPattern || brush.color().alpha() != 255) {
            return false;
        }
        const QTransform& t = painter->worldTransform();
        if (t.type() > QTransform::TxTranslate || t.dx() != std::round(t.dx()) ||
            t.dy() != std::round(t.dy()) || painter->opacity() != 1.0 ||
            painter->compositionMode() != QPainter::CompositionMode_SourceOver) {
            return false;
        }
        const qreal dpr = painter->device()->devicePixelRatio();
        if (dpr != std::round(dpr)) {
            return false;
        }
        *background = brush.color();
        // The painter draws into an image: the window's backing store.
        const QPaintDevice* target = painter->paintEngine() ? painter->paintEngine()->paintDevice() : nullptr;
        if (target == nullptr || target->devType() != QInternal::Image) {
            return false;
        }
        *format = static_cast<const QImage*>(target)->format();
        *ratio = dpr;
        return true;
    }

    mutable QCache<LineKey, QImage> pictures_{256};
    mutable QCache<SizeKey, QSize> sizes_{256};
};

// A scroll bar that repaints only when its picture changes. A list that gains a line and scrolls to it
// changes its scroll bar's range and value each time, but once the slider has shrunk to its least length it
// stays at the end.
class QuietScrollBar : public QScrollBar {
  public:
    QuietScrollBar(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {}

  protected:
    void sliderChange(SliderChange change) override {
        if (change == SliderOrientationChange || !painted_) {
            QScrollBar::sliderChange(change);
            return;
        }
        // A list that gains a line sets the range and then the value; in between the slider may stand a pixel
        // off. So the picture is compared once the event at hand is done, before the window repaints (its
        // repaint request waits behind ordinary posted events).
        if (!checkPending_) {
            checkPending_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    checkPending_ = false;
                    if (!painted_ || look() != *painted_) {
                        update();
                    }
                },
                Qt::QueuedConnection);
        }
    }

    void paintEvent(QPaintEvent* event) override {
        QScrollBar::paintEvent(event);
        const Look now = look();
        if (event->region().contains(rect())) {
            painted_ = now;
        } else if (!painted_ || now != *painted_) {
            painted_.reset();
            update();
        }
    }

  private:
    struct Look {
        QRect slider;
        int state = 0;
        int active = 0;
        bool empty = false;
        friend bool operator==(const Look&, const Look&) = default;
    };

    Look look() const {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return Look{style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
                    static_cast<int>(opt.state), static_cast<int>(opt.activeSubControls),
                    opt.minimum == opt.maximum};
    }

    std::optional<Look> painted_; // the picture on screen, as of the last full paint
    bool checkPending_ = false;
};

} // namespace

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new CachedLineDelegate(this));
    setVerticalScrollBar(new QuietScrollBar(Qt::Vertical, this));
}
