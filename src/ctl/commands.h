// SPDX-License-Identifier: MIT
#pragma once
// merovask-ctl's commands, one row each: adding a command is adding a row and its function.

#include "output.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <span>

namespace devlink {
class SerialLine;
}
namespace settings {
class SettingsFile;
}

namespace ctl {

struct Options {
    std::optional<QString> port;
    int timeoutMs = 1000;
    bool json = false;
    bool yes = false;
    std::optional<QString> plot;
    QStringList words; // the command and its arguments
};

// What a command runs with. The line is there for the commands that need a port, not yet open.
struct Run {
    const Options& options;
    devlink::SerialLine* line = nullptr;
    const settings::SettingsFile* settings = nullptr;
    ReplyPrinter* printer = nullptr;
    std::int16_t port = 0;
    QString arg(int i) const { return options.words.value(i + 1); }
};

struct Command {
    const char* name;
    int args;
    const char* usage; // the command line after the program's name
    const char* help;  // for --help; '\n' between its lines
    bool needsPort;
    // The only option that goes with this command besides the general ones, if any.
    const char* option;
    // Checks the arguments before anything else happens; an empty text when they are fine.
    QString (*check)(const QStringList& args);
    int (*run)(Run& run);
};

std::span<const Command> commands();
const Command* findCommand(const QString& name);

} // namespace ctl
