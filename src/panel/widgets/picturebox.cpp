// SPDX-License-Identifier: MIT
#include "widgets/picturebox.h"

#include <QPainter>

#include <utility>

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {}

const QPixmap& PictureBox::picture() const {
    if (draw_) {
        picture_ = std::exchange(draw_, nullptr)();
    }
    return picture_;
}

void PictureBox::setPicture(const QPixmap& picture) {
    draw_ = nullptr;
    picture_ = picture;
    update();
}

void PictureBox::setDrawing(std::function<QPixmap()> draw) {
    draw_ = std::move(draw);
    picture_ = QPixmap();
    update();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (const QPixmap& shown = picture(); !shown.isNull()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, shown);
    }
}
