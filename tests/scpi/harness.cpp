// SPDX-License-Identifier: MIT
#include "harness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <csignal>

namespace scpitest {

bool Bench::startSim() {
    sim.start(QStringLiteral(MEROVASK_SIM_PATH),
              {"--port", "1", "--dir", dir.path(), "--log", path("sim.log"), "--table", path("memory.txt")});
    seen = 0;
    return sim.waitForStarted() && QTest::qWaitFor([&] { return QFileInfo(path("com1")).isSymLink(); });
}

void Bench::stopSim() {
    ::kill(pid_t(sim.processId()), SIGINT);
    sim.waitForFinished(kWaitMs);
}

bool Bench::startServer(const QStringList& args) {
    QFile::remove(path("merovask-scpi"));
    QFile::copy(QStringLiteral(MEROVASK_SCPI_PATH), path("merovask-scpi"));
    // No port of the machine's own user folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    server.setProcessEnvironment(environment);
    server.start(path("merovask-scpi"), QStringList{"--listen", "127.0.0.1:0"} + args);
    if (!QTest::qWaitFor([&] { return server.canReadLine() || server.state() == QProcess::NotRunning; },
                         kWaitMs)) {
        return false;
    }
    port = quint16(server.readLine().trimmed().split(':').last().toUInt());
    return port != 0;
}

QByteArray Bench::log() {
    QCoreApplication::processEvents();
    serverLog += server.readAllStandardError();
    return serverLog;
}

std::vector<DeviceCommand> Bench::newCommands() {
    std::vector<DeviceCommand> all = deviceCommands(path("sim.log"));
    std::vector<DeviceCommand> fresh(all.begin() + qMin(all.size(), seen), all.end());
    seen = all.size();
    return fresh;
}

bool Client::open(quint16 port, const QHostAddress& from) {
    if (!from.isNull()) {
        socket.bind(from);
    }
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(kWaitMs);
}

void Client::send(const QByteArray& message) {
    socket.write(message + '\n');
    socket.flush();
}

QByteArray Client::line(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!socket.canReadLine() && socket.state() == QAbstractSocket::ConnectedState &&
           !deadline.hasExpired()) {
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return socket.readLine().trimmed();
}

QByteArray Client::ask(const QByteArray& message) {
    send(message);
    return line();
}

QByteArrayList Client::errors() {
    QByteArrayList out;
    for (QByteArray e = ask("SYST:ERR?"); !e.isEmpty() && !e.startsWith("0,"); e = ask("SYST:ERR?")) {
        out << e;
    }
    return out;
}

QByteArray lastAtDevice(const QString& logPath) {
    const std::vector<DeviceCommand> all = deviceCommands(logPath);
    return all.empty() ? QByteArray() : all.back().text;
}

QByteArrayList texts(const std::vector<DeviceCommand>& commands) {
    QByteArrayList out;
    for (const DeviceCommand& c : commands) {
        out << c.text;
    }
    return out;
}

QByteArray block(const QString& file) {
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    const QByteArray length = QByteArray::number(bytes.size());
    return '#' + QByteArray::number(length.size()) + length + bytes;
}

} // namespace scpitest
