// SPDX-License-Identifier: MIT
#pragma once
// frmMotor: the panel's one window. It holds the serial line (the core's line/serialline, shared with
// merovask-ctl) and shows what the line reports; the operations themselves (which commands, waits and checks)
// are in the core: operations/console, operations/operations, operations/autocycle, calibration/upload. The
// handlers read the boxes, call them and show the outcome; they are defined by subsystem, beside this file:
//   frmMotor.cpp              construction, control arrays, the one place where handlers are connected, the
//                             port box's tooltip
//   frmMotor_shell.cpp        Form_Load, Form_Unload, the show key and action, Exit
//   frmMotor_console.cpp      the help list, the history and reply lists, the clear action
//   frmMotor_link.cpp         the port button, the console's Send, what the line reports (replies, the
//                             response time-out, its warnings)
//   frmMotor_filter.cpp       tuning, scan, auto mode (Timer2), the switch panel
//   frmMotor_calibration.cpp  GetFileName, reading the calibration file, the upload
// The widgets and dialogs that only the window uses are in widgets/ and dialogs/.
//
// Everything runs on the window's thread. A handler yields only inside DelayMs and while a message box is
// shown, so any other handler (the same one included) may run to its end inside those two places. Only the
// calibration upload is kept apart: every control that starts an operation reaches its handler through one
// gate (connectHandlers), which refuses it while the upload runs; those controls are greyed meanwhile.

#include "calibration/calfile.h"
#include "line/serialline.h"
#include "operations/autocycle.h"
#include "operations/gate.h"
#include "settings/settings.h"
#include "ui_frmMotor.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace testsupport {
struct FormAccess;
}

class frmMotor : public QWidget {
    Q_OBJECT
  public:
    explicit frmMotor(QWidget* parent = nullptr);
    ~frmMotor() override;

    // shell
    void Form_Load();
    void Form_Unload();
    void Form_KeyDown(int KeyCode, int Shift);
    void Command8_Click(); // show action
    void Command9_Click(); // Exit

    // console
    void Comb_Click();
    void List1_DblClick();
    void List2_DblClick();
    void CmdClear_Click();

    // link
    void Command1_Click();
    void CmdSend_Click();
    void Timer1_Timer();

    // filter
    void Command3_Click();  // Send (wavelength)
    void Command6_Click();  // Increase
    void Command7_Click();  // Decrease
    void Command10_Click(); // Calibration
    void Command5_Click();  // Setting
    void Command4_Click();  // Scan
    void Command2_Click();  // start auto
    void Timer2_Timer();
    void CmdPort_Click(int Index);
    void Label3_DblClick();

    // calibration
    QString GetFileName();
    void CmdFile_Click();

    // Moves the window to the centre of its screen and shows it with the focus in the command box.
    void showCentred();

  signals:
    // The window has been unloaded: the program ends with it.
    void Unloaded();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend struct testsupport::FormAccess;

    void connectHandlers();
    // Greys the controls that the gate refuses while it is closed, and gives them back as they were.
    void greyOperations(bool closed);
    void drawSwitchPictures();
    void uploadCalibration(std::int16_t rowCount);
    void MSComm1_Reply(const QByteArray& reply);
    // The boxes kept in the settings file besides the port, in the order of settings::kBoxKeys.
    std::array<QLineEdit*, settings::kBoxKeys.size()> storedBoxes() const;

    Ui::frmMotor ui;
    // Control arrays and the parts of the window that have no place in the layout.
    std::array<QPushButton*, 4> CmdPort{};
    std::array<PictureBox*, 4> PicBack{};
    QTimer* Timer2 = nullptr; // auto mode, 1000 ms

    devlink::SerialLine line;
    settings::SettingsFile settingsFile; // the program folder's, or this user's copy of it
    devlink::Gate gate;
    filter::AutoCycle autoCycle;
    calibration::CalTable cal; // calTable, calMin, calMax
    std::int32_t listLines = 0;
    bool debugMode = false;
    bool unloaded = false;
    bool inAutoTick_ = false;
    bool switchPicturesDrawn_ = false;
    // While the gate is closed: each greyed control with whether it was enabled before, and where the focus
    // was.
    std::vector<std::pair<QWidget*, bool>> greyed_;
    QWidget* focusBeforeGrey_ = nullptr;
    QWidget* focusAfterGrey_ = nullptr;
};
