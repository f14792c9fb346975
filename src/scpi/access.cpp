// SPDX-License-Identifier: MIT
#include "access.h"

namespace scpiserver {

std::optional<Endpoint> parseEndpoint(const QString& text) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        return std::nullopt;
    }
    QString host = text.left(colon);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535) {
        return std::nullopt;
    }
    if (host.isEmpty()) {
        return Endpoint{QHostAddress(QHostAddress::LocalHost), static_cast<quint16>(port)};
    }
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed) {
        host = host.mid(1, host.size() - 2);
    }
    QHostAddress address;
    // An IPv6 address has colons of its own: it needs its brackets.
    if (!address.setAddress(host) || bracketed != (address.protocol() == QAbstractSocket::IPv6Protocol)) {
        return std::nullopt;
    }
    return Endpoint{address, static_cast<quint16>(port)};
}

std::optional<AllowList> AllowList::parse(const QString& text) {
    AllowList list;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString trimmed = item.trimmed();
        QPair<QHostAddress, int> network;
        if (trimmed.contains(QLatin1Char('/'))) {
            network = QHostAddress::parseSubnet(trimmed);
            if (network.first.isNull()) {
                return std::nullopt;
            }
        } else {
            QHostAddress address;
            if (!address.setAddress(trimmed)) {
                return std::nullopt;
            }
            network = {address, address.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32};
        }
        list.networks_ << network;
    }
    return list;
}

bool AllowList::allows(const QHostAddress& peer) const {
    if (networks_.isEmpty()) {
        return true;
    }
    QHostAddress address = peer;
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    if (mapped) {
        address = QHostAddress(v4);
    }
    for (const auto& network : networks_) {
        if (address.isInSubnet(network)) {
            return true;
        }
    }
    return false;
}

} // namespace scpiserver
