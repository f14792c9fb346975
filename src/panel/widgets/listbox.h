// SPDX-License-Identifier: MIT
#pragma once
// A list box: a list of text lines that a device can fill hundreds of times a second. Adding a line makes an
// item view lay out and repaint all its visible lines and its scroll bar; here a line is drawn once per look
// and then copied, and the scroll bar repaints only when its picture changes. What it shows is the same,
// pixel for pixel, as a plain QListWidget.

#include <QListWidget>

class ListBox : public QListWidget {
    Q_OBJECT
  public:
    explicit ListBox(QWidget* parent = nullptr);
};
