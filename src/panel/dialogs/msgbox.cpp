// SPDX-License-Identifier: MIT
#include "dialogs/msgbox.h"

#include "dialogs/msgbox_native.h"

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
    return handler() ? handler()(text, buttons) : native::showMsgBox(text, buttons);
}

} // namespace platform
