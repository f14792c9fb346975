// SPDX-License-Identifier: MIT
#pragma once
// A read-only device that hands out at most `step` bytes per read, so every chunk boundary of a streaming
// reader gets exercised. Header-only: the fuzzers use it without the rest of the test support.

#include <QByteArray>
#include <QIODevice>
#include <algorithm>
#include <cstring>
#include <utility>

namespace testsupport {

class TrickleDevice : public QIODevice {
  public:
    TrickleDevice(QByteArray data, qint64 step) : data_(std::move(data)), step_(step) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    int reads = 0;

  protected:
    qint64 readData(char* out, qint64 maxSize) override {
        ++reads;
        const qint64 n = std::min({maxSize, step_, static_cast<qint64>(data_.size()) - pos_});
        if (n <= 0) {
            return 0;
        }
        std::memcpy(out, data_.constData() + pos_, static_cast<std::size_t>(n));
        pos_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray data_;
    qint64 step_;
    qint64 pos_ = 0;
};

} // namespace testsupport
