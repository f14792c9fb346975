// SPDX-License-Identifier: MIT
#pragma once
// One client's socket: its bytes framed into messages for its session, the session's answers written back.
// A client that sends faster than its commands run, or does not read its answers, is read no further until
// they have caught up, so neither its messages nor its answers pile up without bound; its bytes wait in the
// kernel meanwhile and nothing is lost. A client that leaves does not stop what it sent: the rest runs, and
// the connection ends after it.

#include "parser/framer.h"
#include "session.h"

#include <QObject>
#include <QTcpSocket>

namespace scpiserver {

class Connection : public QObject {
    Q_OBJECT
  public:
    Connection(QTcpSocket* socket, service::Instrument& instrument, bool engineering,
               std::function<void(const QString&)> log, QObject* parent = nullptr);

    // Closes the socket at once (the server ends); what was sent and not run is dropped.
    void close();

  signals:
    // The client has left and everything it sent has run.
    void finished();

  private:
    void read();
    void write(const QByteArray& answer);
    bool heldBack() const;
    void endIfDone();

    QTcpSocket* socket_;
    scpi::Framer framer_;
    Session session_;
    bool reading_ = false;
    bool gone_ = false;
    bool ended_ = false;
};

} // namespace scpiserver
