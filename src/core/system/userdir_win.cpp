// SPDX-License-Identifier: MIT
// The per-user folder in the local application data, and write access as the system's profile calls need it.
// Windows redirects the writes of old 32-bit programs out of Program Files by itself, but not those of a
// 64-bit one: the panel does it, into a folder of its own per program folder, as that redirection does.

#include "system/userdir.h"
#include "system/userdir_native.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace platform {

QString userDir() {
    QString base = qEnvironmentVariable("LOCALAPPDATA");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    }
    return QDir::cleanPath(base + QStringLiteral("/merovask"));
}

namespace native {

// Nothing is installed by a package here; every program folder is a copy of its own.
bool isInstallFolder(const QString& canonical) {
    Q_UNUSED(canonical);
    return false;
}

// The system's calls rewrite the file where it is: an existing file must open for writing, a new one must
// be creatable in the folder. Rights come from access lists here, so trying is the only sure answer.
bool canWriteSettings(const QString& folder, const QString& file) {
    if (QFileInfo::exists(file)) {
        QFile existing(file);
        return existing.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
    }
    QTemporaryFile probe(folder + QStringLiteral("/merovask-XXXXXX.tmp"));
    return probe.open();
}

} // namespace native

} // namespace platform
