#pragma once
// SPDX-License-Identifier: MIT
// The dialog GetOpenFileNameA shows when no test answers it: each platform's own (filedialog_qt.cpp,
// filedialog_win.cpp). `error` receives what CommDlgExtendedError will report.

#include "dialogs/filedialog.h"

namespace platform::native {
BOOL showOpenDialog(OPENFILENAME* ofn, DWORD& error);
} // namespace platform::native

namespace platform {
// Writes the chosen path (and its last part, where the record asks for it) into the record's buffers.
BOOL storeChosenFile(OPENFILENAME* ofn, const QString& path, DWORD& error);
} // namespace platform
