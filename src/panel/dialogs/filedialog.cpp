// SPDX-License-Identifier: MIT
#include "dialogs/filedialog.h"

#include "dialogs/filedialog_native.h"

#include <QDir>
#include <QFile>
#include <cstring>

namespace platform {

namespace {
FileDialogHandler& handler() {
    static FileDialogHandler h;
    return h;
}
DWORD lastError = 0;
} // namespace

void setFileDialogHandlerForTests(FileDialogHandler h) {
    handler() = std::move(h);
}

BOOL GetOpenFileNameA(OPENFILENAME* ofn) {
    lastError = 0;
    if (ofn == nullptr || ofn->lpstrFile == nullptr || ofn->nMaxFile == 0) {
        return 0;
    }
    if (!handler()) {
        return native::showOpenDialog(ofn, lastError);
    }
    const std::optional<QString> chosen = handler()(*ofn);
    return chosen ? storeChosenFile(ofn, *chosen, lastError) : 0;
}

DWORD CommDlgExtendedError() {
    return lastError;
}

BOOL storeChosenFile(OPENFILENAME* ofn, const QString& path, DWORD& error) {
    const QByteArray bytes = QFile::encodeName(path);
    if (static_cast<DWORD>(bytes.size()) + 1 > ofn->nMaxFile) {
        error = FNERR_BUFFERTOOSMALL;
        return 0;
    }
    std::memcpy(ofn->lpstrFile, bytes.constData(), static_cast<std::size_t>(bytes.size()) + 1);
    if (ofn->lpstrFileTitle != nullptr && ofn->nMaxFileTitle > 0) {
        const qsizetype slash =
            std::max(bytes.lastIndexOf('/'), bytes.lastIndexOf(QDir::separator().toLatin1()));
        const QByteArray title = bytes.mid(slash + 1).left(ofn->nMaxFileTitle - 1);
        std::memcpy(ofn->lpstrFileTitle, title.constData(), static_cast<std::size_t>(title.size()) + 1);
    }
    return 1;
}

} // namespace platform
