// SPDX-License-Identifier: MIT
#include "sim/pty.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

QString errnoText(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool addFlags(int fd, int getCmd, int setCmd, int flags) {
    const int old = ::fcntl(fd, getCmd);
    return old >= 0 && ::fcntl(fd, setCmd, old | flags) == 0;
}

// The target of a symlink, or an empty text when path is no symlink.
QByteArray readLink(const QByteArray& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.constData(), buf, sizeof buf - 1);
    return n < 0 ? QByteArray() : QByteArray(buf, n);
}

} // namespace

QString linkPathFor(const QString& dir, int port) {
    return dir + QStringLiteral("/com") + QString::number(port);
}

Pty::Pty() = default;

Pty::~Pty() {
    close();
}

bool Pty::open() {
    close();
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error_ = errnoText("openpty");
        return false;
    }
    // Raw on our side too: no echo of the panel's commands back to it, no line editing, no CR/LF mapping.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    if (!addFlags(master, F_GETFL, F_SETFL, O_NONBLOCK) || !addFlags(master, F_GETFD, F_SETFD, FD_CLOEXEC) ||
        !addFlags(slave, F_GETFD, F_SETFD, FD_CLOEXEC)) {
        error_ = errnoText("fcntl");
        ::close(master);
        ::close(slave);
        return false;
    }
    masterFd_ = master;
    slaveFd_ = slave;
    slavePath_ = QString::fromLocal8Bit(name);
    error_.clear();
    return true;
}

bool Pty::link(const QString& path) {
    if (!isOpen()) {
        error_ = QStringLiteral("link: no pseudo-terminal open");
        return false;
    }
    unlink();
    const QByteArray target = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        // A real file or device node of that name is someone's data: never replace it.
        error_ = QStringLiteral("%1 exists and is not a symbolic link").arg(path);
        return false;
    }
    // A temporary link renamed over the old one, so the name never disappears while another program
    // holds it; rename() replaces a symlink atomically.
    const QByteArray temp = target + ".tmp" + QByteArray::number(::getpid());
    ::unlink(temp.constData());
    if (::symlink(QFile::encodeName(slavePath_).constData(), temp.constData()) != 0) {
        error_ = QStringLiteral("cannot create the link %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        error_ = QStringLiteral("cannot create the link %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(temp.constData());
        return false;
    }
    linkPath_ = path;
    return true;
}

void Pty::unlink() {
    if (linkPath_.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(linkPath_);
    // Another device may have taken the name over since; its link is not ours to remove.
    if (readLink(path) == QFile::encodeName(slavePath_))
        ::unlink(path.constData());
    linkPath_.clear();
}

int Pty::unreadByPanel() const {
    int n = 0;
    if (slaveFd_ < 0 || ::ioctl(slaveFd_, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void Pty::close() {
    unlink();
    if (masterFd_ >= 0)
        ::close(masterFd_);
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    masterFd_ = -1;
    slaveFd_ = -1;
    slavePath_.clear();
}

} // namespace sim
