// SPDX-License-Identifier: MIT
#include "support/simlog.h"

#include <QFile>
#include <QList>

#include <utility>

std::vector<DeviceCommand> deviceCommands(const QString& logPath) {
    QFile log(logPath);
    std::vector<DeviceCommand> out;
    if (!log.open(QIODevice::ReadOnly)) {
        return out;
    }
    QByteArray pending;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3 || parts[1] != "rx") {
            continue;
        }
        const double ms = parts[0].toDouble() * 1000;
        const QByteArray quoted = line.mid(parts[0].size() + 4);
        for (qsizetype i = 1; i + 1 < quoted.size(); ++i) {
            char c = quoted[i];
            if (c == '\\') {
                c = quoted[++i];
                c = c == 'r'   ? '\r'
                    : c == 'n' ? '\n'
                    : c == 't' ? '\t'
                    : c == 'x' ? char(quoted.mid(i + 1, 2).toInt(nullptr, 16))
                               : c;
                i += quoted[i] == 'x' ? 2 : 0;
            }
            if (c == ',') {
                out.push_back({std::exchange(pending, {}), ms});
            } else {
                pending += c;
            }
        }
    }
    return out;
}
