// The device link: the port button, the transmitter, the wait, the receiver and the response time-out.

#include "filter/limits.h"
#include "filter/number.h"
#include "link/commands.h"
#include "link/console.h"
#include "platform/msgbox.h"
#include "platform/wait.h"
#include "shell/frmMotor.h"
#include "shell/settings.h"

#include <QFile>

#include <cstdio>

namespace {
const QString kOpen = QStringLiteral("open");
} // namespace

void frmMotor::Command1_Click() {
    // The first failing step ends the toggle; only a number that names no port is reported.
    const auto fail = [this](int error) {
        if (error == platform::kInvalidPortNumber) {
            portOpen = false;
            platform::MsgBox(QStringLiteral("can't open comm port ") + QString::number(MSComm1->CommPort()));
        } else if (MSComm1->openTrouble() == platform::OpenTrouble::NoPermission) {
            // No box, as for a port in use; but this one the operator can fix, so it is said somewhere.
            std::fprintf(stderr,
                         "merovask: no permission to open %s (port %d): add yourself to the dialout group\n",
                         QFile::encodeName(MSComm1->openedDevice()).constData(), int(MSComm1->CommPort()));
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
        if (const int error = MSComm1->setSettings(devlink::cmd::kLineSettings)) {
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
    devlink::sendFromConsole(*this, lastCmd);
}

void frmMotor::DelayMs(std::int32_t HowLong) {
    platform::waitMs(HowLong, [this] { return unloaded; });
}

void frmMotor::console(const QString& command) {
    // The operator sees every single command of the panel in the console before it goes out.
    TxtCom->setText(command);
    CmdSend_Click();
}

std::int32_t frmMotor::limit(std::int32_t nType, std::int32_t nVal) const {
    return filter::setLimit(nType, nVal, swMin, swMax);
}

void frmMotor::storeRange(std::int32_t calMin, std::int32_t calMax) {
    shell::storeRange(iniPath, calMin, calMax, swMin, swMax);
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
