#pragma once
// merovask-ctl's side of the operations: the port through the same serial stand-in as the panel, replies
// framed by the same assembler, and each reply printed on standard output as it arrives.

#include "link/line.h"
#include "link/replyassembler.h"
#include "platform/MSComm.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

namespace ctl {

struct Output {
    bool json = false;
    // Each reply with the seconds since start in front (monitor).
    bool timestamps = false;
};

class CtlLine : public QObject, public devlink::Line {
    Q_OBJECT
  public:
    CtlLine(Output output, int timeoutMs, const QElapsedTimer& sinceStart);

    // Opens port `number` as the panel does; on failure returns a message saying why (no such port, in use,
    // no permission), else an empty text.
    QString open(std::int16_t number);

    // Waits until a reply has come since the last clearing, or until the time-out has passed since the last
    // command was handed to the port. False when none came (or the line went away or the tool was stopped).
    bool awaitReply();
    // Prints replies until stop().
    void monitor();
    // Ends the operation under way at its next step (a signal arrived).
    void stop();

    bool lineGone() const { return lineGone_; }
    int sentCount() const { return sent_; }
    // Called after each command handed to the port.
    std::function<void(int sent)> onSent;

    // The wavelength limits, from the settings file; storeRange writes the new ones there.
    std::int32_t swMin = 0;
    std::int32_t swMax = 0;
    QString iniPath;

    // devlink::Line
    void SendCommand(QString text) override;
    void DelayMs(std::int32_t HowLong) override;
    bool stopped() const override { return stop_; }
    void clearReply() override { replyText_.clear(); }
    bool replied() const override { return !replyText_.isEmpty(); }
    // The tool waits for an answer only once an operation has sent its last command (awaitReply), so the
    // console's time-out has nothing to arm.
    void armTimeout() override {}
    void disarmTimeout() override {}
    void console(const QString& command) override;
    std::int32_t limit(std::int32_t nType, std::int32_t nVal) const override;
    void storeRange(std::int32_t calMin, std::int32_t calMax) override;

  private:
    void receive();
    void print(const QString& reply);

    Output output_;
    int timeoutMs_;
    const QElapsedTimer& sinceStart_;
    platform::MSComm port_;
    devlink::ReplyAssembler rx_;
    QString replyText_;
    QString lastCommand_; // the last command handed to the port, without blanks and terminator
    QElapsedTimer sinceSend_;
    int sent_ = 0;
    bool stop_ = false;
    bool lineGone_ = false;
    bool awaiting_ = false;
};

} // namespace ctl
