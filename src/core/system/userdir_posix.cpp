// SPDX-License-Identifier: MIT
// The per-user folder after the XDG base directory rules, and write access as the profile calls need it.

#include "system/userdir.h"
#include "system/userdir_native.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace platform {

namespace {
bool accessible(const QString& path, int mode) {
    return ::access(QFile::encodeName(path).constData(), mode) == 0;
}
} // namespace

QString userDir() {
    // The XDG base directory rules call a relative path in the variable invalid: it is ignored.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base =
        !xdg.isEmpty() && QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/merovask"));
}

namespace native {

// A build configured for another prefix may still be packaged for /usr, so that one always counts.
bool isInstallFolder(const QString& canonical) {
    for (const QString& bin : {QStringLiteral(MEROVASK_INSTALL_BINDIR), QStringLiteral("/usr/bin")}) {
        const QString candidate = QFileInfo(bin).canonicalFilePath();
        if (canonical == (candidate.isEmpty() ? QDir::cleanPath(bin) : candidate)) {
            return true;
        }
    }
    return false;
}

// The profile calls replace the file by renaming a new one over it, so the folder must be writable as well
// as the file. access() answers for the real user: root passes every mode check, a read-only mount fails
// everyone.
bool canWriteSettings(const QString& folder, const QString& file) {
    if (!accessible(folder, W_OK | X_OK)) {
        return false;
    }
    return !accessible(file, F_OK) || accessible(file, W_OK);
}

} // namespace native

} // namespace platform
