// SPDX-License-Identifier: MIT
// The command console: help list, history, reply list and the clear action.

#include "device/commands.h"
#include "frmMotor.h"

void frmMotor::Comb_Click() {
    ui.TxtCom->setText(devlink::cmd::commandWord(ui.Comb->currentText()));
}

void frmMotor::List1_DblClick() {
    // A double-click beside the lines selects none: there is nothing to re-send.
    const QListWidgetItem* item = ui.List1->currentItem();
    if (item == nullptr || !item->isSelected()) {
        return;
    }
    ui.TxtCom->setText(devlink::cmd::commandWord(item->text()));
    CmdSend_Click();
}

void frmMotor::List2_DblClick() {
    CmdClear_Click();
}

void frmMotor::CmdClear_Click() {
    ui.List1->clear();
    ui.List2->clear();
    listLines = 0;
}
