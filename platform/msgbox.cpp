// SPDX-License-Identifier: MIT
#include "platform/msgbox.h"

#include <QMessageBox>

namespace platform {

namespace {
MsgBoxHandler& handler() {
    static MsgBoxHandler h;
    return h;
}
} // namespace

void setMsgBoxHandlerForTests(MsgBoxHandler h) {
    handler() = std::move(h);
}

int MsgBox(const QString& text, int buttons) {
    if (handler()) {
        return handler()(text, buttons);
    }
    QMessageBox box;
    box.setWindowTitle(kAppTitle);
    box.setIcon(QMessageBox::NoIcon);
    box.setText(text);
    if (buttons == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return vbOK;
}

} // namespace platform
