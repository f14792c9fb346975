// SPDX-License-Identifier: MIT
// The device link as the window shows it: the port button, the console's Send, the replies and the response
// time-out.

#include "device/texts.h"
#include "dialogs/msgbox.h"
#include "frmMotor.h"
#include "operations/console.h"

#include <QFile>

#include <cstdio>

namespace {
const QString kOpen = QStringLiteral("open");
} // namespace

void frmMotor::Command1_Click() {
    if (ui.Command1->text() != kOpen) {
        line.close();
        ui.List2->addItem(texts::closeSuccessfully());
        ui.Command1->setText(kOpen);
        return;
    }
    switch (line.open(ui.Text1->text())) {
    case devlink::SerialLine::OpenEnd::Opened:
        ui.List2->addItem(texts::openSuccessfully());
        ui.Command1->setText(QStringLiteral("close"));
        break;
    case devlink::SerialLine::OpenEnd::NoSuchPort:
        platform::MsgBox(texts::cantOpenPort(line.commPort()));
        break;
    case devlink::SerialLine::OpenEnd::Refused:
        // No box, as for a port in use; but this one the operator can fix, so it is said somewhere.
        if (line.openTrouble() == platform::OpenTrouble::NoPermission) {
            const QByteArray text =
                texts::panelNoPermission(line.openedDevice(), line.commPort()).toLocal8Bit();
            std::fprintf(stderr, "%s\n", text.constData());
        }
        break;
    case devlink::SerialLine::OpenEnd::NotANumber:
        break; // does not fit 16 bits: not a port number at all
    }
}

void frmMotor::CmdSend_Click() {
    devlink::consoleSend(line, ui.TxtCom->text());
}

void frmMotor::MSComm1_Reply(const QByteArray& reply) {
    if (listLines > 1000) {
        CmdClear_Click();
    }
    const QString text = QString::fromLatin1(reply);
    ui.TxtReply->setText(text);
    ui.List2->addItem(text);
    ui.List2->setCurrentRow(ui.List2->count() - 1);
    if (debugMode) {
        if (reply.startsWith('T')) {
            ui.Labwait->hide();
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
    if (!line.replied()) {
        platform::MsgBox(texts::noResponse());
    }
    if (debugMode) {
        ui.List1->addItem(line.lastCmd() + QLatin1Char(' ') + line.replyText());
        ui.List1->setCurrentRow(ui.List1->count() - 1);
    }
}
