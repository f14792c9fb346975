// SPDX-License-Identifier: MIT
#include "widgets/pixelstyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace platform {

namespace {

bool isFrame(QStyle::PrimitiveElement element) {
    switch (element) {
    case QStyle::PE_Frame:              // list boxes, framed panels
    case QStyle::PE_FrameLineEdit:      // text boxes
    case QStyle::PE_FrameGroupBox:      // group boxes
    case QStyle::PE_PanelButtonCommand: // buttons and the drop-down's button
        return true;
    default:
        return false;
    }
}

// Whether the painter puts logical pixels onto device pixels one to one (100 %), where the style's own
// drawing is what it always was. A whole scale is not enough: at 200 % Fusion's group box frame is blurred as
// well.
bool oneToOne(const QTransform& t) {
    return t.type() <= QTransform::TxTranslate && t.dx() == std::round(t.dx()) &&
           t.dy() == std::round(t.dy());
}

// The primitive as the style draws it at 100 %, into `picture`: premultiplied ARGB, row by row, transparent
// where it draws nothing. Buttons are drawn with x and y swapped: Fusion draws them through a picture cache
// made at the screen's scale, which an unscaled painter would get scaled down and blurred; a painter that
// swaps the axes bypasses that cache and, since Qt rounds both axes alike, draws the same pixels (measured:
// Fusion's within one level of colour, Windows' exactly). Other frames are drawn straight, which for Fusion's
// group box picture is five times faster.
void atHundredPercent(const QStyle* base, QStyle::PrimitiveElement element, const QStyleOption* option,
                      const QWidget* widget, std::vector<QRgb>& swapped, std::vector<QRgb>& picture) {
    const QRect r = option->rect;
    const bool swap = element == QStyle::PE_PanelButtonCommand;
    const int across = swap ? r.height() : r.width();
    std::vector<QRgb>& target = swap ? swapped : picture;
    target.assign(static_cast<size_t>(r.width()) * static_cast<size_t>(r.height()), 0);
    {
        QImage image(reinterpret_cast<uchar*>(target.data()), across, swap ? r.width() : r.height(),
                     across * static_cast<int>(sizeof(QRgb)), QImage::Format_ARGB32_Premultiplied);
        QPainter p(&image);
        if (swap) {
            p.setTransform(QTransform(0, 1, 1, 0, 0, 0));
        }
        p.translate(-r.topLeft());
        base->drawPrimitive(element, option, &p, widget);
    }
    if (swap) {
        const auto w = static_cast<size_t>(r.width());
        const auto h = static_cast<size_t>(r.height());
        picture.resize(w * h);
        for (size_t y = 0; y < h; ++y) {
            for (size_t x = 0; x < w; ++x) {
                picture[y * w + x] = swapped[x * h + y];
            }
        }
    }
}

// Where each of `count` logical pixels from `first` begins on the device, and where the last one ends: its
// edges mapped by `scale` and `offset` and rounded to the nearest pixel, as Qt rounds a widget's own area.
std::vector<int> deviceEdges(int first, int count, qreal scale, qreal offset) {
    std::vector<int> edges(static_cast<size_t>(count) + 1);
    for (int i = 0; i <= count; ++i) {
        edges[static_cast<size_t>(i)] = qRound(scale * (first + i) + offset);
    }
    return edges;
}

// Whether a painter can draw on whole device pixels: it scales without turning or mirroring, and not one to
// one (there the style's own drawing is what it always was).
bool snappable(const QTransform& t, const QRect& r) {
    if (r.isEmpty() || t.type() > QTransform::TxScale || t.m11() <= 0 || t.m22() <= 0) {
        return false;
    }
    return !oneToOne(t);
}

// Draws from here on in device pixels.
void useDevicePixels(QPainter* painter, const QTransform& t) {
    painter->setWorldTransform(t.inverted() * painter->worldTransform());
}

// Fills, for each pixel of `picture` (the logical rectangle `r` at 100 %), the device pixels that Qt gives to
// that logical pixel. Runs of equal pixels, and runs of equal rows, become one rectangle.
void fillOnDevicePixels(QPainter* painter, const QTransform& t, const QRect& r,
                        const std::vector<QRgb>& picture) {
    const int w = r.width();
    const int h = r.height();
    const std::vector<int> xs = deviceEdges(r.x(), w, t.m11(), t.dx());
    const std::vector<int> ys = deviceEdges(r.y(), h, t.m22(), t.dy());
    const auto rowAt = [&](int y) {
        return picture.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    };
    painter->save();
    useDevicePixels(painter, t);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (int y0 = 0; y0 < h;) {
        int y1 = y0 + 1;
        while (y1 < h && std::equal(rowAt(y1), rowAt(y1) + w, rowAt(y0))) {
            ++y1;
        }
        const QRgb* row = rowAt(y0);
        for (int x0 = 0; x0 < w;) {
            int x1 = x0 + 1;
            while (x1 < w && row[x1] == row[x0]) {
                ++x1;
            }
            if (qAlpha(row[x0]) != 0) {
                const QRect device(QPoint(xs[static_cast<size_t>(x0)], ys[static_cast<size_t>(y0)]),
                                   QPoint(xs[static_cast<size_t>(x1)] - 1, ys[static_cast<size_t>(y1)] - 1));
                painter->fillRect(device, QColor::fromRgba(qUnpremultiply(row[x0])));
            }
            x0 = x1;
        }
        y0 = y1;
    }
    painter->restore();
}

// For each device pixel between the first and last of `to`, the pixel between those of `from` that shows the
// same logical pixel (the two differ only in how a fractional origin was rounded).
std::vector<int> sameLogicalPixel(const std::vector<int>& to, const std::vector<int>& from, int limit) {
    std::vector<int> source;
    for (size_t i = 0; i + 1 < to.size(); ++i) {
        for (int c = to[i]; c < to[i + 1]; ++c) {
            source.push_back(std::clamp(std::min(from[i] + (c - to[i]), from[i + 1] - 1), 0, limit - 1));
        }
    }
    return source;
}

} // namespace

PixelStyle::PixelStyle(QStyle* base) : QProxyStyle(base) {}

void PixelStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                               const QWidget* widget) const {
    const QTransform t = painter->deviceTransform();
    // Turned, mirrored or swapped painters (the one drawing our own picture among them) are left to the
    // style.
    if (!isFrame(element) || !snappable(t, option->rect)) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    atHundredPercent(baseStyle(), element, option, widget, swapped_, picture_);
    fillOnDevicePixels(painter, t, option->rect, picture_);
}

void PixelStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                    QPainter* painter, const QWidget* widget) const {
    const QTransform t = painter->deviceTransform();
    const qreal ratio = painter->device()->devicePixelRatio();
    if (control != CC_ComboBox || !snappable(t, option->rect) || t.m11() != ratio || t.m22() != ratio) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    // Fusion draws the drop-down into a picture at the screen's scale (its frame snapped within it, by
    // drawPrimitive) and copies that to the control's origin, which may lie between device pixels: the copy
    // would shift or blur the frame. So it is drawn here from a whole device pixel, and each device pixel of
    // the control then takes the pixel that shows the same logical pixel.
    const QRect r = option->rect;
    QImage drawn(qCeil(r.width() * ratio), qCeil(r.height() * ratio), QImage::Format_ARGB32_Premultiplied);
    drawn.setDevicePixelRatio(ratio);
    drawn.fill(Qt::transparent);
    {
        QPainter p(&drawn);
        p.translate(-r.topLeft());
        QProxyStyle::drawComplexControl(control, option, &p, widget);
    }
    const std::vector<int> xs = deviceEdges(r.x(), r.width(), t.m11(), t.dx());
    const std::vector<int> ys = deviceEdges(r.y(), r.height(), t.m22(), t.dy());
    const std::vector<int> columns = sameLogicalPixel(xs, deviceEdges(0, r.width(), ratio, 0), drawn.width());
    const std::vector<int> rows = sameLogicalPixel(ys, deviceEdges(0, r.height(), ratio, 0), drawn.height());
    QImage placed(static_cast<int>(columns.size()), static_cast<int>(rows.size()),
                  QImage::Format_ARGB32_Premultiplied);
    for (size_t y = 0; y < rows.size(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(drawn.constScanLine(rows[y]));
        auto* to = reinterpret_cast<QRgb*>(placed.scanLine(static_cast<int>(y)));
        for (size_t x = 0; x < columns.size(); ++x) {
            to[x] = from[columns[x]];
        }
    }
    painter->save();
    useDevicePixels(painter, t);
    painter->drawImage(QPoint(xs.front(), ys.front()), placed);
    painter->restore();
}

void usePixelStyle() {
    const QStyle* current = QApplication::style();
    if (current == nullptr || qobject_cast<const PixelStyle*>(current) != nullptr) {
        return;
    }
    // A style that cannot be made again by its name stays as it is.
    if (QStyle* base = QStyleFactory::create(current->name())) {
        QApplication::setStyle(new PixelStyle(base));
    }
}

} // namespace platform
