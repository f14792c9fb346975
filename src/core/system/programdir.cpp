// SPDX-License-Identifier: MIT
#include "system/programdir.h"

#include <QCoreApplication>
#include <QDir>

namespace platform {

namespace {
QString& overrideDir() {
    static QString dir;
    return dir;
}
} // namespace

QString programDir() {
    if (!overrideDir().isEmpty()) {
        return overrideDir();
    }
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void setProgramDirForTests(const QString& dir) {
    overrideDir() = dir;
}

} // namespace platform
