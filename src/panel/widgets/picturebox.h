// SPDX-License-Identifier: MIT
#pragma once
// A picture box: a frame that shows a picture and can hold other controls.

#include <QFrame>
#include <QPixmap>

#include <functional>

class PictureBox : public QFrame {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);

    // The picture; one given as a drawing is drawn now if it has not been yet.
    const QPixmap& picture() const;
    void setPicture(const QPixmap& picture);
    // A picture drawn only when it is first wanted, shown or asked for: a box that is never shown and holds a
    // picture for later need not draw it while the window starts.
    void setDrawing(std::function<QPixmap()> draw);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    mutable QPixmap picture_;
    mutable std::function<QPixmap()> draw_;
};
