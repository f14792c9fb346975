// SPDX-License-Identifier: MIT
// The serial control over Qt Serial Port, for Linux and other POSIX systems.

#include "serial/MSComm.h"

#include "serial/hangupwatch.h"

#include <QFileInfo>
#include <QSerialPort>

#include <cerrno>
#include <unistd.h>

namespace platform {

namespace {

QSerialPort::Parity parityOf(char letter) {
    switch (letter) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits stopBitsOf(LineSettings::StopBits stop) {
    switch (stop) {
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    case LineSettings::StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

} // namespace

struct MSComm::Line {
    QSerialPort port;
    HangUpWatch hangUpWatch;
};

MSComm::MSComm(QObject* parent) : QObject(parent), line_(std::make_unique<Line>()) {
    connect(&line_->port, &QSerialPort::readyRead, this, &MSComm::received);
    connect(&line_->port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        // Open failures are reported by setPortOpen itself.
        if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !line_->port.isOpen()) {
            return;
        }
        // A device that went away (hang-up, unplugged adapter) makes the port report errors without end;
        // close it at the first one so nothing spins. Later writes are ignored; a new open works once it is
        // back.
        dropLine();
    });
    connect(&line_->hangUpWatch, &HangUpWatch::hungUp, this, [this] {
        if (line_->port.isOpen()) {
            dropLine();
        }
    });
}

MSComm::~MSComm() = default;

bool MSComm::PortOpen() const {
    return line_->port.isOpen();
}

int MSComm::setPortOpen(bool open) {
    QSerialPort& port = line_->port;
    if (!open) {
        line_->hangUpWatch.stop();
        if (port.isOpen()) {
            port.close();
        }
        return kCommOk;
    }
    if (port.isOpen()) {
        return kPortAlreadyOpen;
    }
    const QString path = startOpen();
    if (path.isEmpty()) {
        return kInvalidPortNumber;
    }
    device_ = QFileInfo(path).canonicalFilePath();
    const LineSettings line = parseLineSettings(settings_).value_or(LineSettings{});
    port.setPortName(path);
    port.setBaudRate(line.baud);
    port.setParity(parityOf(line.parity));
    port.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits));
    port.setStopBits(stopBitsOf(line.stopBits));
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port.error();
        port.clearError();
        if (error == QSerialPort::DeviceNotFoundError) {
            return kInvalidPortNumber;
        }
        // A /dev/ttyS node without a UART behind it fails its open with an I/O error: no such port either.
        if (error == QSerialPort::ResourceError && path.startsWith(QLatin1String("/dev/ttyS"))) {
            return kInvalidPortNumber;
        }
        // Qt reports a port in use and a port this user may not open alike; only the second is the
        // operator's to fix.
        if (error != QSerialPort::PermissionError) {
            trouble_ = OpenTrouble::NotSerial;
        } else if (!device_.isEmpty() && !mayOpen(device_)) {
            trouble_ = OpenTrouble::NoPermission;
        } else {
            trouble_ = OpenTrouble::InUse;
        }
        return kPortOpenFailed;
    }
    trouble_ = OpenTrouble::None;
    // Bytes that reached the line before this open are not a reply to anything we will send.
    port.clear();
    line_->hangUpWatch.watch(static_cast<int>(port.handle()));
    return kCommOk;
}

int MSComm::Output(const QByteArray& bytes) {
    QSerialPort& port = line_->port;
    if (!port.isOpen()) {
        return kPortNotOpen;
    }
    if (bytes.isEmpty()) {
        return kCommOk;
    }
    // QSerialPort only buffers a write and sends it when the event loop next runs, which is inside the wait
    // that follows a send: the gap on the line would come out shorter than the wait. So the bytes go to the
    // kernel here (the descriptor is non-blocking: this never waits). Only what the kernel does not take now
    // is left to QSerialPort, and only when nothing of an earlier write is still queued there, so the order
    // on the line stays the order of the calls.
    qint64 handed = 0;
    if (port.bytesToWrite() == 0) {
        qint64 n = -1;
        do {
            n = ::write(port.handle(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
        } while (n < 0 && errno == EINTR);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The device went away: as on any other error of the line, close it so that nothing spins.
            dropLine();
            return kWriteFailed;
        }
        handed = n < 0 ? 0 : n;
    }
    if (handed < bytes.size()) {
        const QByteArray rest = bytes.mid(handed);
        if (port.write(rest) != rest.size()) {
            return kWriteFailed;
        }
    }
    return kCommOk;
}

QByteArray MSComm::Input() {
    commEvent_ = comEvNone;
    return line_->port.isOpen() ? line_->port.readAll() : QByteArray();
}

void MSComm::dropLine() {
    line_->hangUpWatch.stop();
    line_->port.close();
    line_->port.clearError();
    emit LineGone();
}

} // namespace platform
