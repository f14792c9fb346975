// SPDX-License-Identifier: MIT
#pragma once
// A filter on another computer. Its host serves the RS232 line with ser2net; on the operator's computer
// merovask-bridge@N.service runs socat, which connects to it and, while connected, links a pseudo-terminal as
// com<N> in the per-user folder. Which host and TCP port is the one line HOST:PORT of bridge<N>.conf in the
// same folder. Nothing here touches the network: this reads that file for the port list and for the unit.

#include <QByteArrayView>
#include <QMap>
#include <QString>

#include <optional>

namespace platform {

struct BridgeAddress {
    QString host; // a name, an IPv4 address, or an IPv6 address in brackets ([fe80::1]), as socat takes it
    int port = 0; // 1 to 65535
};

// What a bridge<N>.conf says: the address, or why it cannot be used.
struct BridgeConf {
    std::optional<BridgeAddress> address;
    QString problem; // "is empty", ...: follows the file's name; set exactly when there is no address
};

// <folder>/bridge<N>.conf
QString bridgeConfPath(const QString& folder, int number);

// The text of a bridge<N>.conf: one line HOST:PORT; blank lines and lines starting with # do not count.
BridgeConf parseBridgeConf(QByteArrayView text);

// bridge<N>.conf in `folder`; a file that is missing, not a regular file, unreadable or too large to be one
// line is a problem of its own. Never blocks on a pipe or reads a device.
BridgeConf readBridgeConf(const QString& folder, int number);

// Every bridge<N>.conf in `folder` (N a port number), read.
QMap<int, BridgeConf> bridgesIn(const QString& folder);

// For the port list: "network bridge to lab-pc:3001", or "network bridge, bridge9.conf is empty".
QString bridgeDescription(int number, const BridgeConf& conf);

// Closes the port list's line of a bridge whose link is not there: not connected now.
QString bridgeDownNote();

// For the unit's log: the file's path, what is wrong with it and what it should hold.
QString bridgeConfMessage(const QString& folder, int number, const BridgeConf& conf);

} // namespace platform
