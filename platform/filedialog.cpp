// SPDX-License-Identifier: MIT
#include "platform/filedialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStringList>
#include <cstring>

namespace platform {
namespace {
FileDialogHandler& handler() {
    static FileDialogHandler h;
    return h;
}
} // namespace
void setFileDialogHandlerForTests(FileDialogHandler h) {
    handler() = std::move(h);
}
} // namespace platform

#ifndef _WIN32

namespace {

DWORD lastError = 0;

// "*.txt\0*.txt;\0*.*\0*.*\0\0" becomes {"*.txt (*.txt)", "*.* (*)"}.
QStringList nameFilters(LPCSTR filter) {
    QStringList out;
    if (filter == nullptr) {
        return out;
    }
    for (const char* p = filter; *p != '\0';) {
        const QString description = QString::fromLatin1(p);
        p += std::strlen(p) + 1;
        if (*p == '\0') {
            break;
        }
        QStringList patterns;
        for (const QString& pattern : QString::fromLatin1(p).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            patterns << (pattern == u"*.*" ? QStringLiteral("*") : pattern);
        }
        p += std::strlen(p) + 1;
        out << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return out;
}

std::optional<QString> showDialog(const OPENFILENAME& ofn) {
    QFileDialog dialog(nullptr, ofn.lpstrTitle ? QString::fromLatin1(ofn.lpstrTitle) : QString());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // No existence check was asked for: any typed name comes back.
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = nameFilters(ofn.lpstrFilter);
    dialog.setNameFilters(filters);
    const int index = ofn.nFilterIndex == 0 ? 0 : static_cast<int>(ofn.nFilterIndex) - 1;
    if (index < filters.size()) {
        dialog.selectNameFilter(filters[index]);
    }
    const QString initial = ofn.lpstrInitialDir ? QString::fromLatin1(ofn.lpstrInitialDir) : QString();
    dialog.setDirectory(initial.isEmpty() ? QDir::currentPath() : initial);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}

} // namespace

BOOL GetOpenFileNameA(OPENFILENAME* ofn) {
    lastError = 0;
    if (ofn == nullptr || ofn->lpstrFile == nullptr || ofn->nMaxFile == 0) {
        return 0;
    }
    const std::optional<QString> chosen = platform::handler() ? platform::handler()(*ofn) : showDialog(*ofn);
    if (!chosen) {
        return 0;
    }
    const QByteArray path = QFile::encodeName(*chosen);
    if (static_cast<DWORD>(path.size()) + 1 > ofn->nMaxFile) {
        lastError = FNERR_BUFFERTOOSMALL;
        return 0;
    }
    std::memcpy(ofn->lpstrFile, path.constData(), static_cast<std::size_t>(path.size()) + 1);
    if (ofn->lpstrFileTitle != nullptr && ofn->nMaxFileTitle > 0) {
        const QByteArray title = path.mid(path.lastIndexOf('/') + 1).left(ofn->nMaxFileTitle - 1);
        std::memcpy(ofn->lpstrFileTitle, title.constData(), static_cast<std::size_t>(title.size()) + 1);
    }
    return 1;
}

DWORD CommDlgExtendedError() {
    return lastError;
}

#endif
