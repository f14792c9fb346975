// SPDX-License-Identifier: MIT
#include "line/serialline.h"

#include "device/commands.h"
#include "device/number.h"
#include "device/texts.h"
#include "system/wait.h"

namespace devlink {

namespace {
constexpr int kResponseMs = 1000;
// The most "please open comm port" boxes of a run.
constexpr std::int32_t kMaxOpenWarnings = 3;
} // namespace

SerialLine::SerialLine(QObject* parent) : QObject(parent) {
    // Precise: a default (coarse) timer may fire up to 5 % early, and a reply that comes 960 ms after a send
    // must still count as the answer.
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(kResponseMs);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &SerialLine::Timer1_Timer);
    connect(&MSComm1, &platform::MSComm::OnComm, this, &SerialLine::MSComm1_OnComm);
    connect(&MSComm1, &platform::MSComm::LineGone, this, [this] {
        gone_ = true;
        ++connection_;
        emit portGone();
    });
}

SerialLine::OpenEnd SerialLine::open(const QString& portText) {
    if (MSComm1.PortOpen()) {
        MSComm1.setPortOpen(false);
        ++connection_;
    }
    const auto number = filter::wholeValue16(portText);
    if (!number) {
        return OpenEnd::NotANumber;
    }
    int error = MSComm1.setCommPort(*number);
    if (error == platform::kCommOk) {
        error = MSComm1.setSettings(cmd::kLineSettings);
    }
    if (error == platform::kCommOk) {
        error = MSComm1.setPortOpen(true);
    }
    if (error == platform::kInvalidPortNumber) {
        portOpen_ = false;
        return OpenEnd::NoSuchPort;
    }
    if (error != platform::kCommOk) {
        return OpenEnd::Refused;
    }
    portOpen_ = true;
    gone_ = false;
    ++connection_;
    return OpenEnd::Opened;
}

void SerialLine::close() {
    if (MSComm1.PortOpen()) {
        MSComm1.setPortOpen(false);
        ++connection_;
    }
    portOpen_ = false;
}

void SerialLine::shutDown() {
    stop();
    Timer1.stop();
    if (portOpen_) {
        MSComm1.setPortOpen(false);
    }
}

void SerialLine::stop() {
    stopped_ = true;
    platform::interruptWaits();
}

bool SerialLine::awaitReply(int timeoutMs) {
    const qint64 limitNs = qint64(timeoutMs) * 1000000;
    awaiting_ = true;
    while (!replied() && !stopped_ && sinceSend_.isValid() && sinceSend_.nsecsElapsed() <= limitNs) {
        const qint64 leftMs = (limitNs - sinceSend_.nsecsElapsed() + 999999) / 1000000;
        platform::waitMs(static_cast<std::int32_t>(leftMs), [this] { return stopped_ || replied(); });
    }
    awaiting_ = false;
    return replied() && !gone_;
}

bool SerialLine::SendCommand(QString text) {
    if (stopped_) {
        return false;
    }
    if (portOpen_) {
        // Latin-1, one byte per character; a character outside it goes out as '?'. A write to a port that
        // has gone away fails silently.
        const QString command = cmd::trimBlanks(text);
        const bool handed = MSComm1.Output(command.toLatin1()) == platform::kCommOk;
        sinceSend_.start();
        emit commandSent(command);
        return handed;
    }
    if (openWarnCount_ < kMaxOpenWarnings) {
        // Counted before the box is shown, so that sends from inside the box cannot show a fourth one.
        ++openWarnCount_;
        emit message(texts::pleaseOpenPort());
    }
    return false;
}

void SerialLine::DelayMs(std::int32_t HowLong) {
    platform::waitMs(HowLong, [this] { return stopped_; });
}

void SerialLine::MSComm1_OnComm() {
    if (MSComm1.CommEvent() != platform::comEvReceive) {
        return;
    }
    if (const auto reply = rx_.feed(MSComm1.Input())) {
        replyText_ = QString::fromLatin1(*reply);
        emit replyReceived(*reply);
        if (awaiting_) {
            platform::interruptWaits();
        }
    }
}

void SerialLine::Timer1_Timer() {
    // Stopped before anyone is told, so that the tick cannot come again while a box waits for OK: one
    // arming gives at most one message.
    Timer1.stop();
    emit timedOut();
}

} // namespace devlink
