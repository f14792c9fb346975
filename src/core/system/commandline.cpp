// SPDX-License-Identifier: MIT
#include "system/commandline.h"

namespace platform {

QString optionSynopsis(const OptionForm& form) {
    QString synopsis = QStringLiteral("--") + QLatin1String(form.name);
    if (form.value != nullptr) {
        synopsis += QLatin1Char(' ') + QLatin1String(form.value);
    }
    return synopsis;
}

QList<QCommandLineOption> commandLineOptions(std::span<const OptionForm> forms) {
    QList<QCommandLineOption> options;
    for (const OptionForm& form : forms) {
        QCommandLineOption option(QString::fromLatin1(form.name));
        if (form.value != nullptr) {
            option.setValueName(QString::fromLatin1(form.value));
        }
        options << option;
    }
    return options;
}

} // namespace platform
