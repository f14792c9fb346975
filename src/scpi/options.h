// SPDX-License-Identifier: MIT
#pragma once
// merovask-scpi's command line, in merovask-ctl's manner: --help and --version, usage errors with the
// pointer to --help.

#include "access.h"

#include <QStringList>
#include <optional>
#include <variant>

namespace scpiserver {

// Exit statuses.
enum Status : int {
    kDone = 0,     // ended by SIGINT or SIGTERM, or --help, --version
    kUsage = 1,    // a usage error
    kNoListen = 2, // the address cannot be listened on
};

struct Options {
    std::optional<QString> port; // the panel's stored port when not given
    QString device;              // a device path for the port number; empty: the number's own device
    Endpoint listen{QHostAddress(QHostAddress::LocalHost), 5025};
    AllowList allow;
    bool engineering = false;
};

// The options, or the exit status when the program is done (help, version, a usage error reported).
std::variant<Options, int> parse(const QStringList& argv);

// "merovask-scpi: <message>" on standard error.
void say(const QString& message);

} // namespace scpiserver
