// SPDX-License-Identifier: MIT
#include "platform/MSComm.h"

#include "platform/programdir.h"

#include <QFileInfo>
#include <QStringList>

#ifndef _WIN32
#include <cerrno>
#include <unistd.h>
#endif

namespace platform {

namespace {

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "9600,N,8,1": baud rate, parity letter, data bits, stop bits.
bool parseSettings(const QString& text, LineSettings& out) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        return false;
    }
    bool ok = false;
    out.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || out.baud <= 0) {
        return false;
    }
    const QString parity = parts[1].trimmed().toUpper();
    if (parity == u"N") {
        out.parity = QSerialPort::NoParity;
    } else if (parity == u"E") {
        out.parity = QSerialPort::EvenParity;
    } else if (parity == u"O") {
        out.parity = QSerialPort::OddParity;
    } else if (parity == u"M") {
        out.parity = QSerialPort::MarkParity;
    } else if (parity == u"S") {
        out.parity = QSerialPort::SpaceParity;
    } else {
        return false;
    }
    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8) {
        return false;
    }
    out.dataBits = static_cast<QSerialPort::DataBits>(bits);
    const QString stop = parts[3].trimmed();
    if (stop == u"1") {
        out.stopBits = QSerialPort::OneStop;
    } else if (stop == u"1.5") {
        out.stopBits = QSerialPort::OneAndHalfStop;
    } else if (stop == u"2") {
        out.stopBits = QSerialPort::TwoStop;
    } else {
        return false;
    }
    return true;
}

} // namespace

MSComm::MSComm(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, &MSComm::handleReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &MSComm::handleError);
    connect(&hangUpWatch_, &HangUpWatch::hungUp, this, [this] {
        if (port_.isOpen()) {
            dropLine();
        }
    });
}

MSComm::~MSComm() = default;

int MSComm::setCommPort(std::int16_t port) {
    if (port_.isOpen()) {
        return kPortAlreadyOpen;
    }
    commPort_ = port;
    return kCommOk;
}

int MSComm::setSettings(const QString& settings) {
    LineSettings parsed;
    if (!parseSettings(settings, parsed)) {
        return kInvalidPropertyValue;
    }
    settings_ = settings;
    return kCommOk;
}

int MSComm::setPortOpen(bool open) {
    if (!open) {
        hangUpWatch_.stop();
        if (port_.isOpen()) {
            port_.close();
        }
        return kCommOk;
    }
    if (port_.isOpen()) {
        return kPortAlreadyOpen;
    }
    trouble_ = OpenTrouble::NoSuchPort;
    device_.clear();
    const QString path = portPath(commPort_, programDir());
    if (path.isEmpty()) {
        return kInvalidPortNumber;
    }
    device_ = QFileInfo(path).canonicalFilePath();
    LineSettings line;
    parseSettings(settings_, line);
    port_.setPortName(path);
    port_.setBaudRate(line.baud);
    port_.setParity(line.parity);
    port_.setDataBits(line.dataBits);
    port_.setStopBits(line.stopBits);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port_.error();
        port_.clearError();
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
    port_.clear();
    hangUpWatch_.watch(static_cast<int>(port_.handle()));
    return kCommOk;
}

int MSComm::Output(const QByteArray& bytes) {
    if (!port_.isOpen()) {
        return kPortNotOpen;
    }
    if (bytes.isEmpty()) {
        return kCommOk;
    }
    qint64 handed = 0;
#ifndef _WIN32
    // QSerialPort only buffers a write and sends it when the event loop next runs, which is inside the wait
    // that follows a send: the gap on the line would come out shorter than the wait. So the bytes go to the
    // kernel here (the descriptor is non-blocking: this never waits). Only what the kernel does not take now
    // is left to QSerialPort, and only when nothing of an earlier write is still queued there, so the order
    // on the line stays the order of the calls.
    if (port_.bytesToWrite() == 0) {
        qint64 n = -1;
        do {
            n = ::write(port_.handle(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
        } while (n < 0 && errno == EINTR);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The device went away: as on any other error of the line, close it so that nothing spins.
            dropLine();
            return kWriteFailed;
        }
        handed = n < 0 ? 0 : n;
    }
#endif
    if (handed < bytes.size()) {
        const QByteArray rest = bytes.mid(handed);
        if (port_.write(rest) != rest.size()) {
            return kWriteFailed;
        }
#ifdef _WIN32
        port_.flush();
#endif
    }
    return kCommOk;
}

QByteArray MSComm::Input() {
    commEvent_ = comEvNone;
    return port_.isOpen() ? port_.readAll() : QByteArray();
}

void MSComm::handleReadyRead() {
    commEvent_ = comEvReceive;
    emit OnComm();
}

void MSComm::handleError(QSerialPort::SerialPortError error) {
    // Open failures are reported by setPortOpen itself.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !port_.isOpen()) {
        return;
    }
    // A device that went away (hang-up, unplugged adapter) makes the port report errors without end; close
    // it at the first one so nothing spins. Later writes are ignored; a new open works once it is back.
    dropLine();
}

void MSComm::dropLine() {
    hangUpWatch_.stop();
    port_.close();
    port_.clearError();
    emit LineGone();
}

} // namespace platform
