// SPDX-License-Identifier: MIT
#include "serial/bridge.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace platform {

namespace {

// One line HOST:PORT with a few comments is far below this; anything bigger is not such a file.
constexpr qsizetype kMaxConfBytes = 4096;
constexpr int kLastPortNumber = std::numeric_limits<std::int16_t>::max();
constexpr int kMaxHostLength = 253; // the longest DNS name
// Enough of a wrong line to recognise it in the port list.
constexpr qsizetype kExcerptLength = 40;

const QString kWanted = QStringLiteral("one line HOST:PORT, such as lab-pc:3001");

QString confName(int number) {
    return QStringLiteral("bridge%1.conf").arg(number);
}

BridgeConf problem(const QString& text) {
    return {std::nullopt, text};
}

bool isAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isHexOrColon(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

// Only what a host name or address can hold: the characters socat reads as the separators and quotes of
// its own address syntax (",", "!", "[", "(", quotes) never reach its command line.
bool isHost(QByteArrayView host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        const QByteArrayView inner = host.sliced(1, host.size() - 2);
        return inner.contains(':') && std::all_of(inner.begin(), inner.end(), isHexOrColon);
    }
    return !host.isEmpty() && host.size() <= kMaxHostLength && isAsciiAlnum(host.front()) &&
           std::all_of(host.begin(), host.end(),
                       [](char c) { return isAsciiAlnum(c) || c == '.' || c == '-' || c == '_'; });
}

std::optional<int> tcpPort(QByteArrayView digits) {
    if (digits.isEmpty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int port = digits.toInt();
    return port >= 1 && port <= 65535 ? std::optional(port) : std::nullopt;
}

// The line as the operator may see it in a tooltip: printable ASCII only, and nothing that would make the
// tooltip read it as markup.
QString excerpt(QByteArrayView line) {
    QString text;
    for (const char c : line.first(std::min(line.size(), kExcerptLength))) {
        const bool plain = c >= 0x20 && c <= 0x7e && c != '<' && c != '>' && c != '&';
        text += plain ? QChar::fromLatin1(c) : QChar(u'?');
    }
    return line.size() > kExcerptLength ? text + QStringLiteral("...") : text;
}

} // namespace

QString bridgeConfPath(const QString& folder, int number) {
    return folder + QLatin1Char('/') + confName(number);
}

BridgeConf parseBridgeConf(QByteArrayView text) {
    if (text.size() > kMaxConfBytes) {
        return problem(QStringLiteral("is too large to be one line HOST:PORT"));
    }
    if (text.startsWith("\xEF\xBB\xBF")) {
        text = text.sliced(3); // some editors start every file with a byte order mark
    }
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf('\n', start);
        end = end < 0 ? text.size() : end;
        const QByteArrayView line = text.sliced(start, end - start).trimmed();
        if (!line.isEmpty() && !line.startsWith('#')) {
            lines.append(line);
        }
        start = end + 1;
    }
    if (lines.isEmpty()) {
        return problem(QStringLiteral("is empty"));
    }
    if (lines.size() > 1) {
        return problem(QStringLiteral("has more than one line"));
    }
    const QByteArrayView line = lines.front();
    const qsizetype colon = line.lastIndexOf(':');
    const std::optional<int> port = colon < 0 ? std::nullopt : tcpPort(line.sliced(colon + 1));
    if (!port || !isHost(line.first(colon))) {
        return problem(QStringLiteral("holds \"%1\", not HOST:PORT").arg(excerpt(line)));
    }
    return {BridgeAddress{QString::fromLatin1(line.first(colon)), *port}, {}};
}

BridgeConf readBridgeConf(const QString& folder, int number) {
    const QString path = bridgeConfPath(folder, number);
    const QFileInfo info(path);
    if (!info.exists()) {
        return problem(QStringLiteral("does not exist"));
    }
    // A pipe would block the reader and a device would never end.
    if (!info.isFile()) {
        return problem(QStringLiteral("is not a regular file"));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return problem(QStringLiteral("cannot be read"));
    }
    return parseBridgeConf(file.read(kMaxConfBytes + 1));
}

QMap<int, BridgeConf> bridgesIn(const QString& folder) {
    QMap<int, BridgeConf> bridges;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("bridge*.conf")},
                               QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const int number = name.mid(6, name.size() - 11).toInt(&ok);
        // Only the spelling the unit reads: bridge9.conf, not bridge09.conf.
        if (ok && number >= 1 && number <= kLastPortNumber && name == confName(number)) {
            bridges.insert(number, readBridgeConf(folder, number));
        }
    }
    return bridges;
}

QString bridgeDescription(int number, const BridgeConf& conf) {
    if (conf.address) {
        return QStringLiteral("network bridge to %1:%2").arg(conf.address->host).arg(conf.address->port);
    }
    return QStringLiteral("network bridge, %1 %2").arg(confName(number), conf.problem);
}

QString bridgeDownNote() {
    return QStringLiteral(" (not connected)");
}

QString bridgeConfMessage(const QString& folder, int number, const BridgeConf& conf) {
    return QStringLiteral("%1 %2: write %3").arg(bridgeConfPath(folder, number), conf.problem, kWanted);
}

} // namespace platform
