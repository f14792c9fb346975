// SPDX-License-Identifier: MIT
// merovask-bridge N: what merovask-bridge@N.service runs. Reads bridge<N>.conf in the per-user folder and
// becomes socat, which connects to ser2net on the filter's host and only then links a pseudo-terminal as
// com<N> beside the file. When the connection ends socat removes the link and exits; the panel sees an
// unplugged adapter, and systemd starts this again (Restart=always). Connecting first matters: a link made
// before the connection would take commands while the line is down and deliver them seconds later.
//
// A wrong configuration ends with status 6 and a missing socat with 5 (the LSB statuses for "not configured"
// and "not installed"): the unit does not restart on these, the journal says what to fix.

#include "serial/bridge.h"
#include "system/userdir.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kNotInstalled = 5;
constexpr int kNotConfigured = 6;

// socat drops a connection whose peer has gone quiet: an idle one after about 7 s (keepalive probes from 5 s
// of silence), one with commands unacknowledged after 5 s (TCP_USER_TIMEOUT, option 18 of IPPROTO_TCP, 6).
// Without the second, commands written into a cut cable would be retransmitted for many minutes and reach
// the filter whenever the cable came back.
const QString kTcpOptions = QStringLiteral(
    ",nodelay,keepalive,keepidle=5,keepintvl=2,keepcnt=3,connect-timeout=10,setsockopt-int=6:18:5000");
const QString kPtyOptions = QStringLiteral("pty,raw,echo=0,link=");

int fail(const QString& text, int status) {
    std::fprintf(stderr, "merovask-bridge: %s\n", text.toLocal8Bit().constData());
    return status;
}

// socat reads ",", "!", quotes and brackets in an address as its own syntax; a backslash keeps any character
// literal, so the per-user folder may be called anything.
QString socatEscaped(const QString& path) {
    QString escaped;
    for (const QChar c : path) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'/' && c != u'.' && c != u'_' &&
            c != u'-') {
            escaped += u'\\';
        }
        escaped += c;
    }
    return escaped;
}

// socat replaces whatever the link's name holds and removes it at exit: only a link of an earlier bridge (or
// of the simulator) may go, never an operator's own link to an adapter.
bool mayReplace(const QString& link) {
    const QFileInfo info(link);
    return !(info.exists() || info.isSymLink()) ||
           (info.isSymLink() && info.symLinkTarget().startsWith(QLatin1String("/dev/pts/")));
}

} // namespace

int main(int argc, char* argv[]) {
    bool ok = false;
    const int number = argc == 2 ? QString::fromLocal8Bit(argv[1]).toInt(&ok) : 0;
    constexpr int kLastPortNumber = std::numeric_limits<std::int16_t>::max();
    if (!ok || number < 1 || number > kLastPortNumber) {
        return fail(QStringLiteral("usage: merovask-bridge PORT_NUMBER (1 to %1), as systemctl --user "
                                   "enable --now merovask-bridge@9 runs it")
                        .arg(kLastPortNumber),
                    kNotConfigured);
    }
    const QString folder = platform::userDir();
    const platform::BridgeConf conf = platform::readBridgeConf(folder, number);
    if (!conf.address) {
        return fail(platform::bridgeConfMessage(folder, number, conf), kNotConfigured);
    }
    const QString link = folder + QStringLiteral("/com%1").arg(number);
    if (!mayReplace(link)) {
        return fail(QStringLiteral(
                        "%1 is there already and is not a bridge's link: remove it or choose another number")
                        .arg(link),
                    kNotConfigured);
    }

    const QByteArrayList args = {
        "socat",
        "-d",
        "-d", // notices: each connection and its end, in the unit's journal
        QStringLiteral("tcp:%1:%2").arg(conf.address->host).arg(conf.address->port).toLatin1() +
            kTcpOptions.toLatin1(),
        QFile::encodeName(kPtyOptions + socatEscaped(link)),
    };
    std::vector<char*> argvSocat;
    for (const QByteArray& arg : args) {
        argvSocat.push_back(const_cast<char*>(arg.constData()));
    }
    argvSocat.push_back(nullptr);
    ::execvp("socat", argvSocat.data());
    if (errno == ENOENT) {
        return fail(QStringLiteral("socat is not installed: sudo apt-get install socat"), kNotInstalled);
    }
    return fail(QStringLiteral("cannot run socat: %1").arg(QString::fromLocal8Bit(std::strerror(errno))), 1);
}
