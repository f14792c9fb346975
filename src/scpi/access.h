// SPDX-License-Identifier: MIT
#pragma once
// Where the server listens and whom it lets in: "ADDR:PORT" ("[ADDR]:PORT" for IPv6, ":PORT" on
// 127.0.0.1), and an allow list of addresses and networks ("192.0.2.0/24,198.51.100.7,::1").

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace scpiserver {

struct Endpoint {
    QHostAddress address;
    quint16 port = 0;
};

// Nothing when the text is not a literal address with a port of 0 to 65535.
std::optional<Endpoint> parseEndpoint(const QString& text);

class AllowList {
  public:
    // Nothing when an item is not an address or ADDR/BITS; an empty text lets everyone in.
    static std::optional<AllowList> parse(const QString& text);
    // An IPv4 client reaching an IPv6 socket (::ffff:a.b.c.d) counts as its IPv4 address.
    bool allows(const QHostAddress& peer) const;

  private:
    QList<QPair<QHostAddress, int>> networks_;
};

} // namespace scpiserver
