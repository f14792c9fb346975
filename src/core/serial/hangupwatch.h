// SPDX-License-Identifier: MIT
#pragma once
// Tells when the device behind an open serial port went away (pty hang-up, unplugged adapter). Qt Serial
// Port 6.4 reports that as a read error; later versions (Debian 13's 6.8) take the empty read that follows a
// hang-up for "no data" and say nothing, while the descriptor, readable for ever, keeps the event loop
// turning at 100 % CPU. The watch polls a duplicate of the descriptor: a second notifier on QSerialPort's own
// one would clash with its notifier.
#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace platform {

class HangUpWatch : public QObject {
    Q_OBJECT
  public:
    explicit HangUpWatch(QObject* parent = nullptr);
    ~HangUpWatch() override;
    // Watches the line behind the descriptor until stop() or the hang-up.
    void watch(int descriptor);
    void stop();

  signals:
    // Raised once; bytes the device sent before it went are left for QSerialPort to read first.
    void hungUp();

  private:
    void check();
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace platform
