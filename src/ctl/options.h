// SPDX-License-Identifier: MIT
#pragma once
// merovask-ctl's command line: options anywhere among the words, "--" ends them; --help made from the
// tables of commands and options.

#include "commands.h"

#include <QStringList>
#include <variant>

namespace ctl {

// The options and the command's words, or the exit status when the program is done (help, version, a usage
// error already reported).
std::variant<Options, int> parse(const QStringList& argv);

QString helpText();

} // namespace ctl
