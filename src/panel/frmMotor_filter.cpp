// SPDX-License-Identifier: MIT
// The operator's filter panel: tuning, scan, auto mode and the 1x4 switch.

#include "device/commands.h"
#include "frmMotor.h"
#include "operations/operations.h"
#include "widgets/doevents.h"

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
    BoxField box(ui.Text6);
    filter::tune(line, box, filter::kWavelength, &devlink::cmd::wavelength);
}

void frmMotor::Command6_Click() {
    BoxField box(ui.Text11);
    filter::tune(line, box, filter::kSteps, &devlink::cmd::stepUp);
}

void frmMotor::Command7_Click() {
    BoxField box(ui.Text12);
    filter::tune(line, box, filter::kSteps, &devlink::cmd::stepDown);
}

void frmMotor::Command10_Click() {
    filter::calibrate(line);
}

void frmMotor::Command5_Click() {
    BoxField start(ui.Text7);
    BoxField end(ui.Text8);
    BoxField stay(ui.Text9);
    filter::scanSetting(line, start, end, stay);
}

void frmMotor::Command4_Click() {
    // The span box keeps what the operator typed; only the command carries the limited value.
    filter::scan(line, ui.Text10->text());
}

void frmMotor::Command2_Click() {
    if (Timer2->isActive()) {
        Timer2->stop();
    } else {
        Timer2->start();
    }
    autoCycle.restart();
}

void frmMotor::Timer2_Timer() {
    // A tick that comes while an earlier tick's message box is open sends nothing: the cycle goes on with the
    // next tick.
    if (inAutoTick_) {
        return;
    }
    inAutoTick_ = true;
    const BoxField first(ui.Text2), second(ui.Text3), third(ui.Text13);
    const BoxField firstWait(ui.Text4), secondWait(ui.Text5), thirdWait(ui.Text14);
    autoCycle.tick(line, {{&first, &second, &third}, {&firstWait, &secondWait, &thirdWait}});
    inAutoTick_ = false;
}

void frmMotor::CmdPort_Click(int Index) {
    if (Index < 0 || Index > 3) {
        return;
    }
    ui.Picture1->setPicture(PicBack[static_cast<std::size_t>(Index)]->picture());
    filter::selectOutput(line, Index);
    ui.Labwait->show();
}

void frmMotor::Label3_DblClick() {
    platform::setOuterHeight(this, (ui.CmdClear->y() + 200) * platform::TwipsPerPixelY);
}
