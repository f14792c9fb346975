// SPDX-License-Identifier: MIT
#include "windowicon.h"

#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QResource>

namespace {

const QString kDrawing = QStringLiteral(":/icons/merovask.svg");

// The picture rendered at build time for a square of `side` pixels: its pixels, row by row, in RGBA without
// premultiplied alpha.
QString picturePath(int side) {
    return QStringLiteral(":/icons/merovask-%1.rgba").arg(side);
}

// That picture, or a null pixmap where the build rendered none.
QPixmap rendered(int side) {
    const QResource resource(picturePath(side));
    if (side <= 0 || !resource.isValid()) {
        return {};
    }
    const QByteArray pixels = resource.uncompressedData();
    const qsizetype row = qsizetype{side} * 4;
    if (pixels.size() != row * side) {
        return {};
    }
    const QImage image(reinterpret_cast<const uchar*>(pixels.constData()), side, side, row,
                       QImage::Format_RGBA8888);
    // A copy in the pixmap's own format: `pixels` goes when this returns.
    return QPixmap::fromImage(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

// Reports no sizes of its own, as Qt's engine for a scalable drawing does, so that the window system asks for
// the same sizes as before.
class RenderedIconEngine : public QIconEngine {
  public:
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        if (mode == QIcon::Normal && state == QIcon::Off && size.width() == size.height()) {
            // The window system asks twice for each size as a window is made.
            if (const auto it = pictures_.constFind(size.width()); it != pictures_.constEnd()) {
                return *it;
            }
            if (QPixmap picture = rendered(size.width()); !picture.isNull()) {
                pictures_.insert(size.width(), picture);
                return picture;
            }
        }
        // Asked in device pixels already: drawn at exactly that size.
        return drawing().pixmap(size, 1.0, mode, state);
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QIconEngine* clone() const override { return new RenderedIconEngine(*this); }

  private:
    // The drawing, loaded only for a size or a mode that was not rendered: it brings in the SVG plugins.
    const QIcon& drawing() {
        if (drawing_.isNull()) {
            drawing_ = QIcon(kDrawing);
        }
        return drawing_;
    }

    QHash<int, QPixmap> pictures_;
    QIcon drawing_;
};

} // namespace

QIcon windowIcon() {
    if (!QResource(picturePath(16)).isValid()) {
        return QIcon(kDrawing);
    }
    return QIcon(new RenderedIconEngine);
}
