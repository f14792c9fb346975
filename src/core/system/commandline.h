// SPDX-License-Identifier: MIT
#pragma once
// The command-line programs' options as tables, one row per option: the parser's options and the help's
// lines are both made from the same row.

#include <QCommandLineOption>
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

// One parser option per row, in the table's order.
QList<QCommandLineOption> commandLineOptions(std::span<const OptionForm> forms);

} // namespace platform
