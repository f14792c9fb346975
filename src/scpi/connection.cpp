// SPDX-License-Identifier: MIT
#include "connection.h"

namespace scpiserver {

namespace {
// Read at most this much at a time, so that one client's flood leaves the others their turn.
constexpr qint64 kChunk = 4096;
// Messages waiting for the device, and answers the client has not read, beyond which it is read no further.
constexpr std::size_t kMostPending = 64;
constexpr qint64 kMostUnread = 256 * 1024;
} // namespace

Connection::Connection(QTcpSocket* socket, service::Instrument& instrument, bool engineering,
                       std::function<void(const QString&)> log, QObject* parent)
    : QObject(parent), socket_(socket),
      session_(
          instrument, engineering, [this](const QByteArray& answer) { write(answer); }, std::move(log)) {
    socket_->setParent(this);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Qt stops taking bytes from the kernel once this much is held for us.
    socket_->setReadBufferSize(kChunk * 4);
    session_.progressed = [this] {
        read();
        endIfDone();
    };
    connect(socket_, &QTcpSocket::readyRead, this, &Connection::read);
    connect(socket_, &QTcpSocket::bytesWritten, this, &Connection::read);
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        gone_ = true;
        read();
        endIfDone();
    });
    read();
}

bool Connection::heldBack() const {
    return session_.pending() >= kMostPending || socket_->bytesToWrite() > kMostUnread;
}

void Connection::read() {
    // A message that ends while this reads calls back in here; the loop below goes on with it.
    if (reading_) {
        return;
    }
    reading_ = true;
    while (!heldBack()) {
        const QByteArray chunk = socket_->read(kChunk);
        if (chunk.isEmpty()) {
            break;
        }
        for (const scpi::Framer::Message& message : framer_.feed(chunk)) {
            session_.take(message);
        }
    }
    reading_ = false;
}

void Connection::write(const QByteArray& answer) {
    if (!gone_ && socket_->state() == QAbstractSocket::ConnectedState) {
        socket_->write(answer);
    }
}

void Connection::endIfDone() {
    if (gone_ && !ended_ && session_.pending() == 0 && socket_->bytesAvailable() == 0) {
        ended_ = true;
        emit finished();
    }
}

void Connection::close() {
    socket_->abort();
}

} // namespace scpiserver
