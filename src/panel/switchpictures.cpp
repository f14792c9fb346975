// SPDX-License-Identifier: MIT
#include "switchpictures.h"

#include <QPainter>
#include <QPainterPath>

namespace filter {

QPixmap drawSwitch(int selected, QSize size, const std::array<QPoint, 4>& outputEnds) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    const QColor red(220, 20, 20);
    const QColor purple(128, 0, 160);
    const int midY = size.height() / 2;
    const QRect body(size.width() / 4, midY - 22, size.width() / 6, 44);

    // Input fibre into the switch body.
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(8, midY, body.left(), midY);
    p.setBrush(QColor(235, 235, 245));
    p.drawRoundedRect(body, 6, 6);
    p.drawText(body, Qt::AlignCenter, QStringLiteral("1x4"));
    p.drawText(QRect(4, midY - 20, body.left() - 8, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("IN"));

    // The selected output is drawn last so that it lies on top of the others.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 4; ++i) {
            if ((i == selected) != (pass == 1)) {
                continue;
            }
            const QPoint start(body.right(), body.top() + 8 + i * 9);
            const QPoint end = outputEnds[static_cast<std::size_t>(i)];
            QPainterPath path(start);
            path.cubicTo(QPointF(start.x() + 40, start.y()), QPointF(end.x() - 60, end.y()), end);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(i == selected ? red : purple, i == selected ? 3 : 1.5));
            p.drawPath(path);
        }
    }
    return pixmap;
}

} // namespace filter
