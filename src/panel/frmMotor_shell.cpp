// SPDX-License-Identifier: MIT
// Start-up, shut-down, the show key and Exit.

#include "device/commands.h"
#include "frmMotor.h"
#include "settings/settings.h"
#include "system/programdir.h"
#include "system/userdir.h"
#include "widgets/doevents.h"

namespace {
constexpr int kF1 = 112;
} // namespace

void frmMotor::Form_Load() {
    for (const QString& line : devlink::cmd::helpLines()) {
        ui.Comb->addItem(line);
    }
    ui.Comb->setCurrentIndex(-1);

    settingsFile = settings::SettingsFile(platform::settingsPath(platform::programDir()));
    const settings::StartValues start = settingsFile.load();
    // The engineering mode comes only from the show key, whatever the file's debug flag says.
    debugMode = false;
    ui.Text1->setText(start.port);
    ui.Text7->setText(start.swMinText);
    ui.Text8->setText(start.swMaxText);
    line.setLimits(start.limits);

    const QString range = QStringLiteral("(%1~%2)").arg(start.limits.swMin).arg(start.limits.swMax);
    ui.Label6->setText(QStringLiteral("Wavelength") + range);
    ui.Label7->setText(QStringLiteral("Start Wavelength") + range);
    ui.Label8->setText(QStringLiteral("End Wavelength") + range);

    const auto boxes = storedBoxes();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        boxes[i]->setText(start.boxes[i]);
    }

    Command1_Click();
}

std::array<QLineEdit*, settings::kBoxKeys.size()> frmMotor::storedBoxes() const {
    return {ui.Text9, ui.Text10, ui.Text6, ui.Text11, ui.Text12};
}

void frmMotor::Form_Unload() {
    if (unloaded) {
        return;
    }
    unloaded = true;
    line.shutDown();
    Timer2->stop();
    settings::BoxValues values;
    const auto boxes = storedBoxes();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        values[i] = boxes[i]->text();
    }
    settingsFile.store(ui.Text1->text(), values);
    hide();
    emit Unloaded();
}

void frmMotor::Form_KeyDown(int KeyCode, int Shift) {
    if (KeyCode == kF1 && Shift > 0) {
        Command8_Click();
        debugMode = true;
    }
}

void frmMotor::Command8_Click() {
    platform::setOuterWidth(this, (ui.Label13->x() + 10) * platform::TwipsPerPixelX);
}

void frmMotor::Command9_Click() {
    close();
}
