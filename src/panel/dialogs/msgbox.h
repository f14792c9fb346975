// SPDX-License-Identifier: MIT
#pragma once
// Modal message boxes: the application's title as caption, no icon, OK or Yes/No.

#include <QString>
#include <functional>

namespace platform {

inline const QString kAppTitle = QStringLiteral("Merovask");

enum MsgButtons : int { vbOKOnly = 0, vbYesNo = 4 };
enum MsgAnswer : int { vbOK = 1, vbYes = 6, vbNo = 7 };

int MsgBox(const QString& text, int buttons = vbOKOnly);

// Tests answer boxes from a script instead of showing them.
using MsgBoxHandler = std::function<int(const QString& text, int buttons)>;
void setMsgBoxHandlerForTests(MsgBoxHandler handler);

} // namespace platform
