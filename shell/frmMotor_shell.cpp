// Start-up, shut-down, the settings routine, the show key and Exit.

#include "filter/number.h"
#include "link/commands.h"
#include "platform/doevents.h"
#include "platform/programdir.h"
#include "platform/userdir.h"
#include "platform/wait.h"
#include "shell/frmMotor.h"
#include "shell/settings.h"

#include <QDir>

namespace {

using shell::kSection;
constexpr int kF1 = 112;

} // namespace

QString frmMotor::getIrStr(const QString& mainS, const QString& SecondS, const QString& defS,
                           std::int16_t inType) {
    return shell::getIrStr(iniPath, mainS, SecondS, defS, inType);
}

void frmMotor::Form_Load() {
    openWarnCount = 0;

    for (const QString& line : devlink::cmd::helpLines()) {
        Comb->addItem(line);
    }
    Comb->setCurrentIndex(-1);

    iniPath = platform::settingsPath(platform::programDir());

    // The flag is kept in the file for whoever reads it there; the engineering mode comes only from the key.
    iniValue = getIrStr(kSection, QStringLiteral("debug"), QStringLiteral("0"), 0);
    debugMode = false;
    iniValue = getIrStr(kSection, QStringLiteral("debug"), iniValue, 1);

    iniValue = getIrStr(kSection, QStringLiteral("port"), QStringLiteral("1"), 0);
    iniValue = getIrStr(kSection, QStringLiteral("port"), iniValue, 1);
    Text1->setText(iniValue);

    // A limit whose text is too large for 32 bits keeps the value it had (0).
    iniValue = getIrStr(kSection, QStringLiteral("SWmin"), QStringLiteral("1510"), 0);
    Text7->setText(iniValue);
    if (const auto value = filter::wholeValue(iniValue)) {
        swMin = *value;
    }
    iniValue = getIrStr(kSection, QStringLiteral("SWmax"), QStringLiteral("1589"), 0);
    Text8->setText(iniValue);
    if (const auto value = filter::wholeValue(iniValue)) {
        swMax = *value;
    }

    const QString range = QStringLiteral("(%1~%2)").arg(swMin).arg(swMax);
    Label6->setText(QStringLiteral("Wavelength") + range);
    Label7->setText(QStringLiteral("Start Wavelength") + range);
    Label8->setText(QStringLiteral("End Wavelength") + range);

    const struct {
        QLineEdit* box;
        const char* key;
        const char* def;
    } stored[] = {
        {Text9, "STime", "1"}, {Text10, "SPan", "4"}, {Text6, "Cch", "1550"},
        {Text11, "CI", "1"},   {Text12, "CD", "1"},
    };
    for (const auto& entry : stored) {
        iniValue = getIrStr(kSection, QString::fromLatin1(entry.key), QString::fromLatin1(entry.def), 0);
        entry.box->setText(iniValue);
        iniValue = getIrStr(kSection, QString::fromLatin1(entry.key), iniValue, 1);
    }

    Command1_Click();
}

void frmMotor::Form_Unload() {
    if (unloaded) {
        return;
    }
    unloaded = true;
    Timer1->stop();
    Timer2->stop();

    if (portOpen) {
        MSComm1->setPortOpen(false);
    }
    const struct {
        const char* key;
        QLineEdit* box;
    } stored[] = {
        {"port", Text1}, {"STime", Text9}, {"SPan", Text10}, {"Cch", Text6}, {"CI", Text11}, {"CD", Text12},
    };
    for (const auto& entry : stored) {
        iniValue = getIrStr(kSection, QString::fromLatin1(entry.key), entry.box->text(), 1);
    }
    hide();
    platform::interruptWaits();
    emit Unloaded();
}

void frmMotor::Form_KeyDown(int KeyCode, int Shift) {
    if (KeyCode == kF1 && Shift > 0) {
        Command8_Click();
        debugMode = true;
    }
}

void frmMotor::Form_Resize() {
    // Every control keeps its place whatever the size: the panels beyond the edges are reached by the show
    // key and the switch label, not by resizing.
}

void frmMotor::Command8_Click() {
    platform::setOuterWidth(this, (Label13->x() + 10) * platform::TwipsPerPixelX);
}

void frmMotor::Command9_Click() {
    close();
}
