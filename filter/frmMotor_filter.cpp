// The operator's filter panel: tuning, scan, auto mode and the 1x4 switch.

#include "filter/limits.h"
#include "filter/number.h"
#include "filter/operations.h"
#include "link/commands.h"
#include "platform/doevents.h"
#include "shell/frmMotor.h"

namespace {
// A text box as the operations read and rewrite it.
class BoxField : public filter::Field {
  public:
    explicit BoxField(QLineEdit* box) : box_(box) {}
    QString text() const override { return box_->text(); }
    void setText(const QString& text) override { box_->setText(text); }

  private:
    QLineEdit* box_;
};
} // namespace

void frmMotor::Command3_Click() {
    if (!uploading) {
        BoxField box(Text6);
        filter::tune(*this, box, filter::kWavelength, &devlink::cmd::wavelength);
    }
}

void frmMotor::Command6_Click() {
    if (!uploading) {
        BoxField box(Text11);
        filter::tune(*this, box, filter::kSteps, &devlink::cmd::stepUp);
    }
}

void frmMotor::Command7_Click() {
    if (!uploading) {
        BoxField box(Text12);
        filter::tune(*this, box, filter::kSteps, &devlink::cmd::stepDown);
    }
}

void frmMotor::Command10_Click() {
    if (!uploading) {
        filter::calibrate(*this);
    }
}

void frmMotor::Command5_Click() {
    if (!uploading) {
        BoxField start(Text7);
        BoxField end(Text8);
        BoxField stay(Text9);
        filter::scanSetting(*this, start, end, stay);
    }
}

void frmMotor::Command4_Click() {
    // The span box keeps what the operator typed; only the command carries the limited value.
    if (!uploading) {
        filter::scan(*this, Text10->text());
    }
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
    filter::selectOutput(*this, Index);
    Labwait->show();
}

void frmMotor::Label3_DblClick() {
    platform::setOuterHeight(this, (CmdClear->y() + 200) * platform::TwipsPerPixelY);
}
