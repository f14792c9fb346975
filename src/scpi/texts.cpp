// SPDX-License-Identifier: MIT
#include "texts.h"

namespace scpiserver::texts {

namespace {
// An IPv6 address in brackets, so that its port cannot be taken for a part of it.
QString endpoint(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}
} // namespace

QString manufacturer() {
    return QStringLiteral("Merovask");
}

QString model() {
    return QStringLiteral("Tunable Filter");
}

QString sentAs(const QString& what, const QString& value) {
    return QStringLiteral("%1 sent as %2").arg(what, value);
}

QString keptAs(const QString& what, const QString& value) {
    return QStringLiteral("%1 kept as %2").arg(what, value);
}

QString noSuchOutput(const QString& what) {
    return QStringLiteral("%1: the switch has outputs 1 to 4; nothing sent").arg(what);
}

QString sweepSentAs(const QString& header, std::int32_t start, std::int32_t stop, const QString& dwell) {
    return QStringLiteral("%1 sent start %2, stop %3, dwell %4 S")
        .arg(header)
        .arg(start)
        .arg(stop)
        .arg(dwell);
}

QString notADate(const QString& reply) {
    return QStringLiteral("the device answered '%1' for the date stamp").arg(reply);
}

QString noVersion() {
    return QStringLiteral("no answer to the version query v");
}

QString listening(const QHostAddress& address, quint16 port) {
    return QStringLiteral("listening on %1").arg(endpoint(address, port));
}

QString cannotListen(const QHostAddress& address, quint16 port, const QString& why) {
    return QStringLiteral("cannot listen on %1: %2").arg(endpoint(address, port), why);
}

QString refused(const QHostAddress& peer) {
    return QStringLiteral("connection from %1 closed: not in --allow").arg(peer.toString());
}

QString tooMany(const QHostAddress& peer, int most) {
    return QStringLiteral("connection from %1 closed: %2 clients are connected already")
        .arg(peer.toString())
        .arg(most);
}

QString stopping() {
    return QStringLiteral("stopping: the operation under way ends first");
}

QString uploaded(int rows, std::int32_t min, std::int32_t max, const QString& panelText) {
    return QStringLiteral("calibration table of %1 rows (%2 to %3) loaded: %4")
        .arg(rows)
        .arg(min)
        .arg(max)
        .arg(panelText);
}

} // namespace scpiserver::texts
