// SPDX-License-Identifier: MIT
#include "widgets/picturebox.h"

#include <QPainter>

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {}

void PictureBox::setPicture(const QPixmap& picture) {
    picture_ = picture;
    update();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (!picture_.isNull()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, picture_);
    }
}
