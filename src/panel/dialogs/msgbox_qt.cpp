// SPDX-License-Identifier: MIT
// Message boxes drawn by Qt, where the system has no message box call of its own.

#include "dialogs/msgbox.h"
#include "dialogs/msgbox_native.h"

#include <QMessageBox>

namespace platform::native {

int showMsgBox(const QString& text, int buttons) {
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

} // namespace platform::native
