// SPDX-License-Identifier: MIT
#pragma once
// The command-line programs' options as tables, one row per option: the parser's options and the help's
// lines are both made from the same row.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include <span>

namespace platform {

struct OptionForm {
    const char* name;
    const char* value; // the value's name; none for a flag
    const char* help;
};

// "--name VALUE", or "--name" for a flag: the option as the help shows it.
QString optionSynopsis(const OptionForm& form);

// A parser's options: one per row of the table, in its order, and -h/--help and --version.
struct CommandLineOptions {
    QList<QCommandLineOption> table;
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{QStringLiteral("version")};
};

// Adds the table's options, then -h/--help and --version, to `parser`.
CommandLineOptions addCommandLineOptions(QCommandLineParser& parser, std::span<const OptionForm> forms);

} // namespace platform
