// SPDX-License-Identifier: MIT
#include "plot.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace ctl {

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 560;
constexpr int kTicks = 8;

// A step of 1, 2 or 5 times a power of ten that cuts `span` into about kTicks parts.
double tickStep(double span) {
    if (span <= 0) {
        return 1;
    }
    const double raw = span / kTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (raw <= m * power) {
            return m * power;
        }
    }
    return 10 * power;
}

struct Axis {
    double low;
    double high;
    double step;
};

Axis axisFor(double low, double high) {
    if (low == high) {
        low -= 1;
        high += 1;
    }
    const double step = tickStep(high - low);
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

} // namespace

bool plotTable(const calibration::CalTable& table, const calibration::ReadResult& read, const QString& title,
               const QString& png) {
    const std::size_t rows = read.waves.size();
    std::vector<double> values(rows);
    for (std::size_t k = 0; k < rows; ++k) {
        values[k] = table.calTable[k];
    }
    const auto [waveLow, waveHigh] = std::minmax_element(read.waves.begin(), read.waves.end());
    const auto [valueLow, valueHigh] = std::minmax_element(values.begin(), values.end());
    const Axis x = rows ? axisFor(*waveLow, *waveHigh) : Axis{0, 1, 1};
    const Axis y = rows ? axisFor(*valueLow, *valueHigh) : Axis{0, 1, 1};

    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setPixelSize(13);
    p.setFont(font);
    const QFontMetrics metrics(font);
    const QRectF area(90, 50, kWidth - 120, kHeight - 120);
    const auto toX = [&](double w) { return area.left() + (w - x.low) / (x.high - x.low) * area.width(); };
    const auto toY = [&](double v) { return area.bottom() - (v - y.low) / (y.high - y.low) * area.height(); };

    // Grid, ticks and their numbers.
    p.setPen(QPen(QColor(225, 225, 225), 1));
    for (double w = x.low; w <= x.high + x.step / 2; w += x.step) {
        p.drawLine(QPointF(toX(w), area.top()), QPointF(toX(w), area.bottom()));
    }
    for (double v = y.low; v <= y.high + y.step / 2; v += y.step) {
        p.drawLine(QPointF(area.left(), toY(v)), QPointF(area.right(), toY(v)));
    }
    p.setPen(Qt::black);
    p.drawRect(area);
    for (double w = x.low; w <= x.high + x.step / 2; w += x.step) {
        const QString label = QString::number(w, 'g', 10);
        p.drawText(QPointF(toX(w) - metrics.horizontalAdvance(label) / 2.0, area.bottom() + 18), label);
    }
    for (double v = y.low; v <= y.high + y.step / 2; v += y.step) {
        const QString label = QString::number(v, 'g', 10);
        p.drawText(QPointF(area.left() - 8 - metrics.horizontalAdvance(label), toY(v) + 5), label);
    }

    // Axis titles and the title with the range.
    p.drawText(QRectF(area.left(), kHeight - 36, area.width(), 20), Qt::AlignCenter,
               QStringLiteral("wavelength (nm)"));
    p.save();
    p.translate(22, area.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-area.height() / 2, -10, area.height(), 20), Qt::AlignCenter, QStringLiteral("value"));
    p.restore();
    QFont bold = font;
    bold.setBold(true);
    bold.setPixelSize(15);
    p.setFont(bold);
    p.drawText(QRectF(0, 12, kWidth, 24), Qt::AlignCenter, title);

    // The rows, in file order, joined so that a jump stands out.
    QPainterPath path;
    for (std::size_t k = 0; k < rows; ++k) {
        const QPointF point(toX(read.waves[k]), toY(values[k]));
        if (k == 0) {
            path.moveTo(point);
        } else {
            path.lineTo(point);
        }
    }
    p.setPen(QPen(QColor(20, 90, 200), 1.5));
    p.drawPath(path);
    p.setBrush(QColor(20, 90, 200));
    for (std::size_t k = 0; k < rows; ++k) {
        p.drawEllipse(QPointF(toX(read.waves[k]), toY(values[k])), 2.5, 2.5);
    }
    p.end();
    return image.save(png, "PNG");
}

} // namespace ctl
