// SPDX-License-Identifier: MIT
#pragma once
// Port numbers: which device the panel opens for port N, and the list of every number with its device.
//
// On Windows port N is COMN. Elsewhere port N is, first match wins: the link com<N> in the program folder,
// the link com<N> in the per-user folder, the USB or ACM adapter that holds N in the per-user port table
// (serial/porttable), /dev/ttyS<N-1>.

#include "serial/serialhw.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

namespace platform {

struct PortEntry {
    int number = 0;
    QString device;          // what opening the number opens; empty for an adapter or bridge not there
    QString description;     // for the operator
    bool present = false;    // the device is there now
    bool accessible = false; // this user may open it for reading and writing
    bool bridge = false;     // a filter on another computer (serial/bridge)
};

// Where port N lives for a program in `programFolder`; empty for a number below 1. Numbers adapters seen for
// the first time.
QString portPath(std::int16_t port, const QString& programFolder);

// Every port number with its device, in ascending order. Numbers adapters seen for the first time.
QList<PortEntry> listPorts(const QString& programFolder);

// The same for the folders and hardware given. The per-user folder holds the links and the port table.
struct PortFolders {
    QString program;
    QString user;
};
using HardwareSource = std::function<SerialHardware()>;
QString portPath(std::int16_t port, const PortFolders& folders, const HardwareSource& hardware);
QList<PortEntry> listPorts(const PortFolders& folders, const HardwareSource& hardware);

// The per-user port table's file in a per-user folder.
QString portTablePath(const QString& userFolder);

} // namespace platform
