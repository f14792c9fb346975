// SPDX-License-Identifier: MIT
#pragma once
// The listening socket and the connections on it, one session each, all on the instrument's thread.

#include "access.h"
#include "connection.h"

#include <QTcpServer>
#include <functional>

namespace scpiserver {

class Server : public QObject {
    Q_OBJECT
  public:
    Server(service::Instrument& instrument, AllowList allow, bool engineering,
           std::function<void(const QString&)> log, QObject* parent = nullptr);

    // False with the reason in the log when the address cannot be listened on.
    bool listen(const Endpoint& endpoint);
    Endpoint listening() const;
    // Takes no more clients, lets the operation under way end (queued ones are dropped), closes every
    // connection, then calls `then`.
    void stop(std::function<void()> then);

  private:
    void accept();

    service::Instrument& instrument_;
    AllowList allow_;
    bool engineering_;
    std::function<void(const QString&)> log_;
    QTcpServer server_;
    QList<Connection*> connections_;
};

} // namespace scpiserver
