// SPDX-License-Identifier: MIT
#pragma once
// A line for testing the operations without a window or a port: it records what an operation does (each
// command handed over, each arming and clearing, each wait) and answers from a script, on a fake clock that
// only the waits move. Replies to a command arrive during the wait that follows it.

#include "line/line.h"

#include <QStringList>
#include <functional>

namespace testsupport {

class RecordingLine : public devlink::Line {
  public:
    // The log, one entry a step: "C1589," a command handed over (blanks trimmed), "lost C1589," one handed
    // over while the port was closed, "arm", "disarm", "clear", "wait 500", "show C1589" (an operation's
    // command shown in the console), "limits 1517 1589" (new limits in force), "port opened", "port closed".
    QStringList log;
    // The fake clock: milliseconds, moved only by waits (a wait of N lasts N + 1 ms, as the first check at
    // which more than N ms have passed).
    qint64 now = 0;
    // The device: the reply to a command (without its terminator); an empty text is silence.
    std::function<QString(const QString& command)> device = [](const QString&) {
        return QStringLiteral("OK ");
    };
    // The operation is stopped once this many waits have ended (-1: never).
    int stopAfterWaits = -1;
    // The port: commands handed over while it is closed are lost. Opening or closing it (setPortOpen) starts
    // a new connection.
    bool portOpen = true;
    std::uint32_t connectionNumber = 0;
    // Runs at the end of every wait, with the number of waits ended so far: what happens meanwhile.
    std::function<void(int waits)> duringWait;
    filter::Limits limitsInForce{1510, 1589};
    QString lastCmd;
    QString replyText;

    // The commands alone, without their terminators, in the order handed over.
    QStringList commands() const;

    bool SendCommand(QString text) override;
    std::uint32_t connection() const override { return connectionNumber; }
    void setPortOpen(bool open);
    void DelayMs(std::int32_t HowLong) override;
    bool stopped() const override { return stopAfterWaits >= 0 && waits_ >= stopAfterWaits; }
    void clearReply() override;
    bool replied() const override { return !replyText.isEmpty(); }
    void armTimeout() override { log << QStringLiteral("arm"); }
    void disarmTimeout() override { log << QStringLiteral("disarm"); }
    void showCommand(const QString& command) override { log << QStringLiteral("show ") + command; }
    void setLastCmd(const QString& text) override { lastCmd = text; }
    filter::Limits limits() const override { return limitsInForce; }
    void setLimits(filter::Limits limits) override;

  private:
    QString pending_; // the device's answer, on its way
    int waits_ = 0;
};

} // namespace testsupport
