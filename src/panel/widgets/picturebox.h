// SPDX-License-Identifier: MIT
#pragma once
// A picture box: a frame that shows a picture and can hold other controls.

#include <QFrame>
#include <QPixmap>

class PictureBox : public QFrame {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);

    const QPixmap& picture() const { return picture_; }
    void setPicture(const QPixmap& picture);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap picture_;
};
