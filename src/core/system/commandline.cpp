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

CommandLineOptions addCommandLineOptions(QCommandLineParser& parser, std::span<const OptionForm> forms) {
    CommandLineOptions options;
    for (const OptionForm& form : forms) {
        QCommandLineOption option(QString::fromLatin1(form.name));
        if (form.value != nullptr) {
            option.setValueName(QString::fromLatin1(form.value));
        }
        options.table << option;
    }
    parser.addOptions(options.table);
    parser.addOption(options.help);
    parser.addOption(options.version);
    return options;
}

} // namespace platform
