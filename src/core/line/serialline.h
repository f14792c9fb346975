// SPDX-License-Identifier: MIT
#pragma once
// The serial line to the filter, for both front ends: it owns the serial control, opens and closes the port,
// hands commands to it, assembles the replies, keeps the last reply, runs the response time-out and holds
// the wavelength limits in force. The window shows what it reports in its lists and boxes; merovask-ctl
// prints it. It knows neither the settings file nor the operations that run on it.

#include "device/replyassembler.h"
#include "line/line.h"
#include "serial/MSComm.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace devlink {

class SerialLine : public QObject, public Line {
    Q_OBJECT
  public:
    explicit SerialLine(QObject* parent = nullptr);

    enum class OpenEnd {
        Opened,
        NotANumber, // the text is no 16-bit number: nothing was tried
        NoSuchPort, // the number names no port
        Refused,    // in use, no permission, not a terminal: openTrouble() tells which
    };
    // The port button's open: closes the port if it is open, then opens the port numbered by the text at
    // 9600,N,8,1. The first failing step ends it.
    OpenEnd open(const QString& portText);
    // The port button's close.
    void close();
    // Opens take this device path instead of resolving the port number (empty: resolve it).
    void setDevicePath(const QString& path) { MSComm1.setDevicePath(path); }
    // The program ends: the port is closed (portOpen() stays as it was), nothing more is sent, every wait
    // returns.
    void shutDown();
    // Ends the operation under way at its next step (merovask-ctl: a stop signal or the port gone).
    void stop();

    bool portOpen() const { return portOpen_; }
    std::int16_t commPort() const { return MSComm1.CommPort(); }
    // Why the last open failed, and the device behind its number.
    platform::OpenTrouble openTrouble() const { return MSComm1.openTrouble(); }
    QString openedDevice() const { return MSComm1.openedDevice(); }
    // The serial control itself, to look at.
    const platform::MSComm& port() const { return MSComm1; }
    std::int32_t openWarnCount() const { return openWarnCount_; }
    // The device went away while the port was open; the port is closed since (until the next open).
    bool wentAway() const { return gone_; }

    const QString& lastCmd() const { return lastCmd_; }
    const QString& replyText() const { return replyText_; }
    // Bytes of the reply being assembled.
    std::int32_t pendingBytes() const { return rx_.count(); }
    bool timeoutArmed() const { return Timer1.isActive(); }

    // Waits until a reply has come since the last clearing, or until `timeoutMs` have passed since the last
    // command was handed to the port. False when none came, the port went away or the line was stopped.
    bool awaitReply(int timeoutMs);

    // Line
    bool SendCommand(QString text) override;
    std::uint32_t connection() const override { return connection_; }
    void DelayMs(std::int32_t HowLong) override;
    bool stopped() const override { return stopped_; }
    void clearReply() override { replyText_.clear(); }
    bool replied() const override { return !replyText_.isEmpty(); }
    void armTimeout() override { Timer1.start(); }
    void disarmTimeout() override { Timer1.stop(); }
    void showCommand(const QString& command) override { emit commandShown(command); }
    void setLastCmd(const QString& text) override { lastCmd_ = text; }
    filter::Limits limits() const override { return limits_; }
    void setLimits(filter::Limits limits) override { limits_ = limits; }

  signals:
    // A reply is complete (at most 21 bytes, its closing blank included); replyText() holds it.
    void replyReceived(const QByteArray& reply);
    // The response time-out's tick, one second after the last arming; it is disarmed again.
    void timedOut();
    // The device went away while the port was open (hang-up, unplugged adapter, dropped bridge).
    void portGone();
    // An operation's command, before it goes out: the window shows it in its command box.
    void commandShown(const QString& command);
    // A command was handed to the port, without its blanks.
    void commandSent(const QString& command);
    // A warning for the operator ("please open comm port").
    void message(const QString& text);

  private:
    void MSComm1_OnComm();
    void Timer1_Timer();

    platform::MSComm MSComm1;
    QTimer Timer1;
    ReplyAssembler rx_;
    QString replyText_;
    QString lastCmd_;
    bool portOpen_ = false;
    std::int32_t openWarnCount_ = 0;
    bool stopped_ = false;
    std::uint32_t connection_ = 0;
    bool awaiting_ = false;
    bool gone_ = false;
    QElapsedTimer sinceSend_;
    filter::Limits limits_;
};

} // namespace devlink
