// SPDX-License-Identifier: MIT
#include "dialogs/nativewindow.h"

#include <QApplication>
#include <QWidget>

namespace platform::native {

HWND ownerWindow() {
    QWidget* window = QApplication::activeWindow();
    if (window == nullptr) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->isWindow()) {
                window = w;
                break;
            }
        }
    }
    return window != nullptr ? reinterpret_cast<HWND>(window->winId()) : nullptr;
}

} // namespace platform::native
