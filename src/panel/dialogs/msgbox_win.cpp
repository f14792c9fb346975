// SPDX-License-Identifier: MIT
// Message boxes by the system's own call. The window owns the box, so the box stays in front of it and the
// window takes no clicks meanwhile; before the window shows, the box holds off the whole program instead.

#include "dialogs/msgbox.h"
#include "dialogs/msgbox_native.h"
#include "dialogs/nativewindow.h"

#include <windows.h>

namespace platform::native {

int showMsgBox(const QString& text, int buttons) {
    const HWND owner = ownerWindow();
    UINT type = buttons == vbYesNo ? MB_YESNO : MB_OK;
    type |= owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL;
    // The wide call: the text is Unicode here, and a file name in it may lie outside the ANSI code page.
    const int answer = MessageBoxW(owner, reinterpret_cast<LPCWSTR>(text.utf16()),
                                   reinterpret_cast<LPCWSTR>(kAppTitle.utf16()), type);
    if (buttons == vbYesNo) {
        return answer == IDYES ? vbYes : vbNo;
    }
    return vbOK;
}

} // namespace platform::native
