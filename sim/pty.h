// SPDX-License-Identifier: MIT
#pragma once
// A pseudo-terminal whose slave side stands in for a serial device node, reachable through a link
// <dir>/com<N> that the panel opens as its port. Shared by merovask-sim and the tests' virtual device.
//
// The object keeps its own descriptor of the slave open for its whole life: without it the master reads
// EIO (and polls POLLHUP) every time the panel closes its port, and bytes written while the panel is away
// would be lost. Only destroying the object takes the line away.

#include <QString>

namespace sim {

// <dir>/com<port>
QString linkPathFor(const QString& dir, int port);

class Pty {
  public:
    Pty();
    ~Pty(); // closes both sides and removes the link if it still points at this terminal
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens a new pseudo-terminal in raw mode with a non-blocking, close-on-exec master.
    bool open();
    // Makes linkPath a symlink to the slave, replacing an existing symlink (never a file or folder).
    bool link(const QString& linkPath);
    // Removes the link (if it still points here) and closes both sides. Safe to call twice.
    void close();

    bool isOpen() const { return masterFd_ >= 0; }
    int masterFd() const { return masterFd_; }
    QString slavePath() const { return slavePath_; }
    QString linkPath() const { return linkPath_; }
    QString errorString() const { return error_; }
    // Bytes written to the master that the panel has not read yet (0 when closed).
    int unreadByPanel() const;

  private:
    void unlink();

    int masterFd_ = -1;
    int slaveFd_ = -1;
    QString slavePath_;
    QString linkPath_;
    QString error_;
};

} // namespace sim
