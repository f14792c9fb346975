// SPDX-License-Identifier: MIT
#include "widgets/doevents.h"

#include <cmath>

namespace platform {

namespace {
// The part of the outer size that the frame adds around the client area (0 where there is no frame).
QSize frameExtra(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {frame.width() - client.width(), frame.height() - client.height()};
}
} // namespace

void setOuterWidth(QWidget* window, float twips) {
    const int outer = static_cast<int>(std::lround(twips / TwipsPerPixelX));
    const int client = std::max(1, outer - frameExtra(window).width());
    window->setFixedWidth(client);
}

void setOuterHeight(QWidget* window, float twips) {
    const int outer = static_cast<int>(std::lround(twips / TwipsPerPixelY));
    const int client = std::max(1, outer - frameExtra(window).height());
    window->setFixedHeight(client);
}

} // namespace platform
