// SPDX-License-Identifier: MIT
#include "server.h"

#include "texts.h"

namespace scpiserver {

namespace {
// Well above the clients of a lab's bench, well below the descriptors a process may hold.
constexpr int kMostClients = 256;
} // namespace

Server::Server(service::Instrument& instrument, AllowList allow, bool engineering,
               std::function<void(const QString&)> log, QObject* parent)
    : QObject(parent), instrument_(instrument), allow_(std::move(allow)), engineering_(engineering),
      log_(std::move(log)) {
    server_.setMaxPendingConnections(kMostClients);
    connect(&server_, &QTcpServer::newConnection, this, &Server::accept);
}

bool Server::listen(const Endpoint& endpoint) {
    if (server_.listen(endpoint.address, endpoint.port)) {
        log_(texts::listening(server_.serverAddress(), server_.serverPort()));
        return true;
    }
    log_(texts::cannotListen(endpoint.address, endpoint.port, server_.errorString()));
    return false;
}

Endpoint Server::listening() const {
    return {server_.serverAddress(), server_.serverPort()};
}

void Server::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const QHostAddress peer = socket->peerAddress();
        if (!allow_.allows(peer) || connections_.size() >= kMostClients) {
            log_(allow_.allows(peer) ? texts::tooMany(peer, kMostClients) : texts::refused(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new Connection(socket, instrument_, engineering_, log_, this);
        connections_ << connection;
        connect(connection, &Connection::finished, this, [this, connection] {
            connections_.removeOne(connection);
            connection->deleteLater();
        });
    }
}

void Server::stop(std::function<void()> then) {
    log_(texts::stopping());
    server_.close();
    instrument_.finish([this, then = std::move(then)] {
        for (Connection* connection : std::exchange(connections_, {})) {
            connection->close();
            connection->deleteLater();
        }
        then();
    });
}

} // namespace scpiserver
