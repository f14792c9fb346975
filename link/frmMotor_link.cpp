// The device link: the port button, the transmitter, the wait, the receiver and the response time-out.

#include "filter/number.h"
#include "link/commands.h"
#include "platform/doevents.h"
#include "platform/msgbox.h"
#include "shell/frmMotor.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace {
const QString kOpen = QStringLiteral("open");
const QString kLineSettings = QStringLiteral("9600,N,8,1");
} // namespace

void frmMotor::Command1_Click() {
    // The first failing step ends the toggle; only a number that names no port is reported.
    const auto fail = [this](int error) {
        if (error == platform::kInvalidPortNumber) {
            portOpen = false;
            platform::MsgBox(QStringLiteral("can't open comm port ") + QString::number(MSComm1->CommPort()));
        }
    };
    if (Command1->text() == kOpen) {
        if (MSComm1->PortOpen()) {
            MSComm1->setPortOpen(false);
        }
        const auto number = filter::wholeValue16(Text1->text());
        if (!number) {
            return; // does not fit 16 bits: not a port number at all
        }
        if (const int error = MSComm1->setCommPort(*number)) {
            return fail(error);
        }
        if (const int error = MSComm1->setSettings(kLineSettings)) {
            return fail(error);
        }
        if (const int error = MSComm1->setPortOpen(true)) {
            return fail(error);
        }
        portOpen = true;
        List2->addItem(QStringLiteral("open successfully"));
        Command1->setText(QStringLiteral("close"));
    } else {
        if (MSComm1->PortOpen()) {
            MSComm1->setPortOpen(false);
        }
        portOpen = false;
        List2->addItem(QStringLiteral("close successfully"));
        Command1->setText(kOpen);
    }
}

void frmMotor::SendCommand(QString text) {
    if (unloaded) {
        return;
    }
    if (portOpen) {
        // Latin-1, one byte per character; a character outside it goes out as '?'. A write to a port that
        // has gone away fails silently.
        MSComm1->Output(devlink::cmd::trimBlanks(text).toLatin1());
    } else if (openWarnCount < 3) {
        // Counted before the box is shown, so that sends from inside the box cannot show a fourth one.
        ++openWarnCount;
        platform::MsgBox(QStringLiteral("please open comm port"));
    }
}

void frmMotor::CmdSend_Click() {
    if (uploading) {
        return;
    }
    lastCmd = TxtCom->text();
    if (lastCmd == devlink::cmd::kGetWord) {
        const int stampSlots[] = {devlink::cmd::kSlotYear, devlink::cmd::kSlotMonthDay,
                                  devlink::cmd::kSlotHourMinute};
        for (int slot : stampSlots) {
            SendCommand(devlink::cmd::terminated(devlink::cmd::readSlot(slot)));
            replyText.clear();
            if (slot != devlink::cmd::kSlotHourMinute) {
                DelayMs(50);
                if (unloaded) {
                    return;
                }
            }
        }
        return;
    }
    SendCommand(devlink::cmd::terminated(lastCmd));
    // Each console send gets its own full second for an answer.
    Timer1->start();
    replyText.clear();
}

void frmMotor::DelayMs(std::int32_t HowLong) {
    // Elapsed time from a monotonic clock in nanoseconds: the wait ends at the first check after more than
    // HowLong ms have passed, without rounding to whole ticks of a millisecond counter and without any wrap.
    QElapsedTimer waited;
    waited.start();
    const qint64 limitNs = static_cast<qint64>(HowLong) * 1000000;
    for (;;) {
        DoEvents();
        if (unloaded || waited.nsecsElapsed() > limitNs) {
            return;
        }
        // Sleep in the event loop, so that every event that comes meanwhile (a reply, a timer, a click) is
        // handled at once. Qt rounds a timer's remaining time up to a whole millisecond each time the loop
        // wakes, so it is aimed a millisecond early and short naps finish the wait.
        const qint64 leftMs = static_cast<qint64>(HowLong) - waited.elapsed() - 1;
        if (leftMs >= 1) {
            QEventLoop loop;
            QTimer deadline;
            deadline.setSingleShot(true);
            deadline.setTimerType(Qt::PreciseTimer);
            connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
            connect(this, &frmMotor::Unloaded, &loop, &QEventLoop::quit);
            deadline.start(static_cast<int>(std::min<qint64>(leftMs, std::numeric_limits<int>::max())));
            loop.exec();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

void frmMotor::MSComm1_OnComm() {
    if (MSComm1->CommEvent() != platform::comEvReceive) {
        return;
    }
    if (const auto reply = rx.feed(MSComm1->Input())) {
        publishReply(*reply);
    }
}

void frmMotor::publishReply(const QByteArray& reply) {
    if (listLines > 1000) {
        CmdClear_Click();
    }
    const QString text = QString::fromLatin1(reply);
    TxtReply->setText(text);
    replyText = text;
    List2->addItem(text);
    List2->setCurrentRow(List2->count() - 1);
    if (debugMode) {
        if (reply.startsWith('T')) {
            Labwait->hide();
        }
        // The log costs only its own line when the working folder cannot be written.
        QFile log(QStringLiteral("demo.txt"));
        if (log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            log.write(reply + '\n');
        }
    }
    ++listLines;
}

void frmMotor::Timer1_Timer() {
    // Stopped before the box is shown, so that the tick cannot come again while the box waits for OK: one
    // arming gives at most one message.
    Timer1->stop();
    if (replyText.isEmpty()) {
        platform::MsgBox(QStringLiteral("no response form device"));
    }
    if (debugMode) {
        List1->addItem(lastCmd + QLatin1Char(' ') + replyText);
        List1->setCurrentRow(List1->count() - 1);
    }
}
