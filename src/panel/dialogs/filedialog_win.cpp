// SPDX-License-Identifier: MIT
// The system's open-file dialog, with what the record leaves out that the system needs.

#include "dialogs/filedialog.h"
#include "dialogs/filedialog_native.h"
#include "dialogs/nativewindow.h"

#include <cstring>

namespace platform::native {

BOOL showOpenDialog(OPENFILENAME* ofn, DWORD& error) {
    OPENFILENAMEA request = *ofn;
    // The callers give the size of the first version of the record as a 32-bit program had it; the system
    // would refuse that size from a 64-bit one. The first version's size here keeps what it asks for: the
    // dialog without the fields that later versions appended.
    if (request.lStructSize < OPENFILENAME_SIZE_VERSION_400A) {
        request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    }
    // Owned by the window, the dialog keeps the window from taking clicks (a second Configure) meanwhile.
    if (request.hwndOwner == nullptr) {
        request.hwndOwner = ownerWindow();
    }
    // The buffer also gives the name the dialog starts with, which the system reads up to a NUL: a buffer
    // filled with blanks, as a string of the original language was, has none.
    if (std::memchr(request.lpstrFile, '\0', request.nMaxFile) == nullptr) {
        request.lpstrFile[0] = '\0';
    }
    const BOOL chosen = ::GetOpenFileNameA(&request);
    error = chosen ? 0 : ::CommDlgExtendedError();
    ofn->Flags = request.Flags;
    ofn->nFilterIndex = request.nFilterIndex;
    ofn->nFileOffset = request.nFileOffset;
    ofn->nFileExtension = request.nFileExtension;
    return chosen;
}

} // namespace platform::native
