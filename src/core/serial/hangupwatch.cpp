// SPDX-License-Identifier: MIT
#include "serial/hangupwatch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

HangUpWatch::HangUpWatch(QObject* parent) : QObject(parent) {}

HangUpWatch::~HangUpWatch() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void HangUpWatch::watch(int descriptor) {
    stop();
    fd_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) {
        return; // unwatched, a hang-up still shows at the next write
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &HangUpWatch::check);
}

void HangUpWatch::stop() {
    if (notifier_) {
        // May run inside the notifier's own signal: it goes once that has returned.
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void HangUpWatch::check() {
    // Readable means received bytes far more often than a hang-up; those are QSerialPort's to read.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
        return;
    }
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0) {
        return;
    }
    stop();
    emit hungUp();
}

} // namespace platform
