// SPDX-License-Identifier: MIT
#pragma once
// The serial communications control: the operations that the panel uses of a serial port. Property writes
// that can fail return an error number (0 when they succeed), in the numbering of the original control: 8002
// means that the port number names no port; every other failure has another number.
//
// Each platform has its own implementation, chosen by CMake: MSComm_qt.cpp over Qt Serial Port,
// MSComm_win.cpp over the Win32 communications calls. What they share is in MSComm.cpp.

#include "serial/ports.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace platform {

enum CommError : int {
    kCommOk = 0,
    kInvalidPropertyValue = 380,
    kPortAlreadyOpen = 8005,
    kPortNotOpen = 8018,
    kInvalidPortNumber = 8002,
    kPortOpenFailed = 8012, // in use, no permission, not a terminal...
    kWriteFailed = 8020,
};

enum CommEventCode : int {
    comEvNone = 0,
    comEvReceive = 2,
};

// Why the last open failed, beyond its error number: front ends tell the operator what to do about it.
enum class OpenTrouble {
    None,
    NoSuchPort,   // 8002
    NoPermission, // this user may not open the device (a group membership is missing)
    InUse,        // another program holds it
    NotSerial,    // the name is there but is no terminal
};

// A Settings text ("9600,N,8,1"): baud rate, parity letter, data bits, stop bits.
struct LineSettings {
    enum class StopBits { One, OneAndHalf, Two };
    std::int32_t baud = 9600;
    char parity = 'N'; // N, E, O, M or S
    int dataBits = 8;  // 5 to 8
    StopBits stopBits = StopBits::One;
};
std::optional<LineSettings> parseLineSettings(const QString& text);

class MSComm : public QObject {
    Q_OBJECT
  public:
    explicit MSComm(QObject* parent = nullptr);
    ~MSComm() override;

    std::int16_t CommPort() const { return commPort_; }
    int setCommPort(std::int16_t port);

    QString Settings() const { return settings_; }
    int setSettings(const QString& settings);

    // A device's own path (such as /dev/serial/by-id/...) that the next opens take instead of resolving the
    // port number, for a program without a per-user folder; empty: resolve the number.
    void setDevicePath(const QString& path) { devicePath_ = path; }

    OpenTrouble openTrouble() const { return trouble_; }
    // The device behind the port number of the last open (links followed), when there is one.
    QString openedDevice() const { return device_; }

    bool PortOpen() const;
    int setPortOpen(bool open);

    // Hands all bytes to the operating system in one call, before it returns; whatever the system cannot take
    // at once follows, in order, as soon as the line can take it.
    int Output(const QByteArray& bytes);

    // The bytes waiting in the receive buffer; reading takes them out.
    QByteArray Input();
    int CommEvent() const { return commEvent_; }

  signals:
    // Raised on the window's thread whenever received bytes are waiting.
    void OnComm();
    // The device went away while the port was open (hang-up, unplugged adapter); the port is closed now.
    void LineGone();

  private:
    struct Line; // the platform's port, defined by its implementation file

    // The first step of an open on either system: forgets the last open's device and trouble; returns the
    // path behind the port number (or the device path set), empty when the number names no port.
    QString startOpen();
    void received();
    void dropLine();

    std::unique_ptr<Line> line_;
    std::int16_t commPort_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    int commEvent_ = comEvNone;
    OpenTrouble trouble_ = OpenTrouble::None;
    QString device_;
    QString devicePath_;
};

} // namespace platform
