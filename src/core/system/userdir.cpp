// SPDX-License-Identifier: MIT
#include "system/userdir.h"

#include "system/userdir_native.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace platform {

namespace {

const QString kSettingsName = QStringLiteral("merovask.ini");

QString canonicalFolder(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(folder).absolutePath()) : canonical;
}

// A name the operator can recognise in a file manager (the last two folders of the path) and a short hash
// of the whole path, so that /opt/a/bin and /opt/b/bin never meet.
QString folderKey(const QString& canonical) {
    const QStringList parts = canonical.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString name = parts.mid(std::max<qsizetype>(0, parts.size() - 2)).join(QLatin1Char('-')).left(40);
    for (QChar& c : name) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                           c == u'-' || c == u'_' || c == u'.';
        if (!plain) {
            c = u'_';
        }
    }
    if (name.startsWith(QLatin1Char('.'))) {
        name[0] = u'_'; // not a hidden folder
    }
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex();
    return (name.isEmpty() ? QStringLiteral("root") : name) + QLatin1Char('-') +
           QString::fromLatin1(hash.left(8));
}

bool copyFile(const QString& from, const QString& to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        return false;
    }
    QSaveFile out(to);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
}

} // namespace

QString userSettingsPath(const QString& programFolder) {
    const QString canonical = canonicalFolder(programFolder);
    if (native::isInstallFolder(canonical)) {
        return userDir() + QLatin1Char('/') + kSettingsName;
    }
    return userDir() + QLatin1Char('/') + folderKey(canonical) + QLatin1Char('/') + kSettingsName;
}

QString settingsPath(const QString& programFolder) {
    QString folder = programFolder;
    if (folder.endsWith(QDir::separator())) {
        folder.chop(1);
    }
    const QString programFile = folder + QDir::separator() + kSettingsName;
    const QString userFile = userSettingsPath(programFolder);
    // Once this user has a copy, it stays the settings file, even when the program folder becomes writable
    // later: the copy holds this user's latest values, and going back would bring back the administrator's
    // old ones (and flip between two files whenever the folder's rights change).
    if (QFileInfo(userFile).exists() || QFileInfo(userFile).isSymLink()) {
        return userFile;
    }
    if (native::canWriteSettings(folder.isEmpty() ? QDir::rootPath() : folder, programFile)) {
        return programFile;
    }
    // Where no copy can be made, the panel runs on the program folder's file and loses its changes, as it
    // always did in a folder it cannot write.
    const QString userFolder = QFileInfo(userFile).path();
    if (!QDir().mkpath(userFolder) || !native::canWriteSettings(userFolder, userFile)) {
        return programFile;
    }
    if (QFileInfo::exists(programFile) && !copyFile(programFile, userFile)) {
        return programFile;
    }
    return userFile;
}

} // namespace platform
