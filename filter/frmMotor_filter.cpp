// The operator's filter panel: tuning, scan, auto mode and the 1x4 switch.

#include "filter/limits.h"
#include "filter/number.h"
#include "link/commands.h"
#include "platform/doevents.h"
#include "shell/frmMotor.h"

void frmMotor::tuneFrom(QLineEdit* box, std::int32_t nType, QString (*command)(std::int32_t)) {
    // A text too large for 32 bits leaves the working value at 0, which the limit then raises.
    std::int32_t value = filter::wholeValue(box->text()).value_or(0);
    value = filter::setLimit(nType, value, swMin, swMax);
    box->setText(QString::number(value));
    TxtCom->setText(command(value));
    CmdSend_Click();
}

void frmMotor::Command3_Click() {
    if (!uploading) {
        tuneFrom(Text6, filter::kWavelength, &devlink::cmd::wavelength);
    }
}

void frmMotor::Command6_Click() {
    if (!uploading) {
        tuneFrom(Text11, filter::kSteps, &devlink::cmd::stepUp);
    }
}

void frmMotor::Command7_Click() {
    if (!uploading) {
        tuneFrom(Text12, filter::kSteps, &devlink::cmd::stepDown);
    }
}

void frmMotor::Command10_Click() {
    if (uploading) {
        return;
    }
    TxtCom->setText(devlink::cmd::calibrate());
    CmdSend_Click();
}

void frmMotor::Command5_Click() {
    if (uploading) {
        return;
    }
    // One working value for the three parameters: a text that does not convert takes the value sent before
    // it.
    std::int32_t value = 0;
    const auto send = [&](QLineEdit* box, std::int32_t nType, QString (*command)(std::int32_t)) {
        value = filter::wholeValue(box->text()).value_or(value);
        value = filter::setLimit(nType, value, swMin, swMax);
        box->setText(QString::number(value));
        TxtCom->setText(command(value));
        CmdSend_Click();
    };
    send(Text7, filter::kWavelength, &devlink::cmd::scanStart);
    Timer1->stop();
    DelayMs(500);
    if (unloaded) {
        return;
    }
    send(Text8, filter::kWavelength, &devlink::cmd::scanEnd);
    Timer1->stop();
    DelayMs(500);
    if (unloaded) {
        return;
    }
    send(Text9, filter::kStayTime, &devlink::cmd::stayTime);
}

void frmMotor::Command4_Click() {
    if (uploading) {
        return;
    }
    // The span box keeps what the operator typed; only the command carries the limited value.
    std::int32_t value = filter::wholeValue(Text10->text()).value_or(0);
    value = filter::setLimit(filter::kSteps, value, swMin, swMax);
    TxtCom->setText(devlink::cmd::scanSpan(value));
    CmdSend_Click();
}

void frmMotor::Command2_Click() {
    if (Timer2->isActive()) {
        Timer2->stop();
    } else {
        Timer2->start();
    }
    autoPhase = 1;
}

void frmMotor::Timer2_Timer() {
    // A tick that comes while an earlier tick's message box is open, or while a calibration upload runs,
    // sends nothing: the cycle goes on with the next tick.
    if (uploading || inAutoTick_) {
        return;
    }
    inAutoTick_ = true;
    const auto send = [this](QLineEdit* box, std::int32_t next) {
        lastCmd = box->text();
        SendCommand(devlink::cmd::terminated(lastCmd));
        autoPhase = next;
        autoCount = 0;
    };
    if (autoPhase == 5) {
        send(Text13, 6);
    }
    if (autoPhase == 3) {
        send(Text3, 4);
    }
    if (autoPhase == 1) {
        send(Text2, 2);
    }
    if (autoCount < INT32_MAX) {
        ++autoCount;
    }
    if (autoCount > filter::readNumber(Text4->text()) && autoPhase == 2) {
        autoPhase = 3;
    }
    if (autoCount > filter::readNumber(Text5->text()) && autoPhase == 4) {
        autoPhase = 5;
    }
    if (autoCount > filter::readNumber(Text14->text()) && autoPhase == 6) {
        autoPhase = 1;
    }
    inAutoTick_ = false;
}

void frmMotor::CmdPort_Click(int Index) {
    if (uploading || Index < 0 || Index > 3) {
        return;
    }
    Picture1->setPicture(PicBack[static_cast<std::size_t>(Index)]->picture());
    TxtCom->setText(devlink::cmd::channel(Index));
    CmdSend_Click();
    Labwait->show();
}

void frmMotor::Label3_DblClick() {
    platform::setOuterHeight(this, (CmdClear->y() + 200) * platform::TwipsPerPixelY);
}
