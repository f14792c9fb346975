// SPDX-License-Identifier: MIT
// merovask-scpi and the simulated filter in a folder of their own, and a client on loopback.

#pragma once

#include "support/simlog.h"

#include <QByteArrayList>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <vector>

namespace scpitest {

inline constexpr int kWaitMs = 5000;

// The server and the simulated filter in a folder of their own.
struct Bench {
    QTemporaryDir dir;
    QProcess sim;
    QProcess server;
    quint16 port = 0;
    std::size_t seen = 0; // device commands looked at already
    QByteArray serverLog;

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    bool startSim();
    void stopSim();
    bool startServer(const QStringList& args);
    // What the server logged so far.
    QByteArray log();
    // The commands the device got since the last call.
    std::vector<DeviceCommand> newCommands();
};

struct Client {
    QTcpSocket socket;

    bool open(quint16 port, const QHostAddress& from = {});
    void send(const QByteArray& message);
    // The next answer line without its LF; empty after kWaitMs.
    QByteArray line(int timeoutMs = kWaitMs);
    QByteArray ask(const QByteArray& message);
    // The error queue, read to its end.
    QByteArrayList errors();
};

// The device's last command so far.
QByteArray lastAtDevice(const QString& logPath);
// The commands' texts.
QByteArrayList texts(const std::vector<DeviceCommand>& commands);
// A file as an IEEE 488.2 definite-length block.
QByteArray block(const QString& file);

} // namespace scpitest
