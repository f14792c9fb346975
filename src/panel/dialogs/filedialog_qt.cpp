// SPDX-License-Identifier: MIT
// The open-file dialog drawn by Qt from the record, where the system has no such call.

#include "dialogs/filedialog.h"
#include "dialogs/filedialog_native.h"

#include <QDir>
#include <QFileDialog>
#include <QStringList>
#include <cstring>

namespace platform::native {

namespace {

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

} // namespace

BOOL showOpenDialog(OPENFILENAME* ofn, DWORD& error) {
    QFileDialog dialog(nullptr, ofn->lpstrTitle ? QString::fromLatin1(ofn->lpstrTitle) : QString());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // No existence check was asked for: any typed name comes back.
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = nameFilters(ofn->lpstrFilter);
    dialog.setNameFilters(filters);
    const int index = ofn->nFilterIndex == 0 ? 0 : static_cast<int>(ofn->nFilterIndex) - 1;
    if (index < filters.size()) {
        dialog.selectNameFilter(filters[index]);
    }
    const QString initial = ofn->lpstrInitialDir ? QString::fromLatin1(ofn->lpstrInitialDir) : QString();
    dialog.setDirectory(initial.isEmpty() ? QDir::currentPath() : initial);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return 0;
    }
    return storeChosenFile(ofn, QDir::toNativeSeparators(dialog.selectedFiles().first()), error);
}

} // namespace platform::native
