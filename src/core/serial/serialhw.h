// SPDX-License-Identifier: MIT
#pragma once
// What the system has in serial ports at one moment: the USB and ACM adapters plugged in and the serial
// ports with a UART behind them; and whether this user may open a device.

#include "serial/porttable.h"

#include <QList>
#include <QString>

namespace platform {

struct SerialHardware {
    QList<Adapter> adapters;
    QList<int> uartPorts; // the numbers of the /dev/ttyS nodes with a UART behind them (ttyS0 is 1)
};

SerialHardware discoverHardware();

// Whether this user may open the device for reading and writing.
bool mayOpen(const QString& device);

} // namespace platform
