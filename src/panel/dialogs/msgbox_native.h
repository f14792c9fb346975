#pragma once
// SPDX-License-Identifier: MIT
// The box MsgBox shows when no test answers it: each platform's own (msgbox_qt.cpp, msgbox_win.cpp).

#include <QString>

namespace platform::native {
int showMsgBox(const QString& text, int buttons);
} // namespace platform::native
