// SPDX-License-Identifier: MIT
// What merovask-sim's log (--log) says reached the device.

#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// One command at the device and when its terminator arrived, in ms since the simulator started.
struct DeviceCommand {
    QByteArray text;
    double ms;
};

// The rx lines of a merovask-sim log, their escapes undone, cut into commands at ","; a command whose
// terminator has not come yet is left out.
std::vector<DeviceCommand> deviceCommands(const QString& logPath);
