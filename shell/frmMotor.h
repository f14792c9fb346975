#pragma once
// frmMotor: the panel's one window. Every control (from shell/frmMotor.ui) and every form-level variable
// lives here; the handlers are defined in the folder of their subsystem:
//   shell/frmMotor.cpp          construction, control arrays, the one place where handlers are connected,
//                               the port box's tooltip
//   shell/frmMotor_shell.cpp    Form_Load, Form_Unload, getIrStr, the show key and action, Exit
//   shell/frmMotor_console.cpp  the help list, the history and reply lists, the clear action
//   link/frmMotor_link.cpp      the port button, SendCommand, CmdSend_Click, DelayMs, the receiver, Timer1,
//                               and the rest of what the operations need of the window (devlink::Line)
//   filter/frmMotor_filter.cpp  tuning, scan, auto mode (Timer2), the switch panel
//   calibration/frmMotor_calibration.cpp  GetFileName, reading the calibration file, the upload
// The sequences of the operations themselves (which commands, waits and checks) are in the core library
// (link/console, filter/operations, calibration/upload), shared with merovask-ctl; the handlers read the
// boxes, call them and show the outcome.
//
// Everything runs on the window's thread. A handler yields only inside DelayMs and while a message box is
// shown, so any other handler (the same one included) may run to its end inside those two places.

#include "calibration/calfile.h"
#include "link/line.h"
#include "link/replyassembler.h"
#include "platform/MSComm.h"
#include "ui_frmMotor.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

class frmMotor : public QWidget, public Ui::frmMotor, public devlink::Line {
    Q_OBJECT
  public:
    explicit frmMotor(QWidget* parent = nullptr);
    ~frmMotor() override;

    // Control arrays and the parts of the window that have no place in the layout.
    std::array<QPushButton*, 4> CmdPort{};
    std::array<PictureBox*, 4> PicBack{};
    QTimer* Timer1 = nullptr; // response time-out, 1000 ms
    QTimer* Timer2 = nullptr; // auto mode, 1000 ms
    platform::MSComm* MSComm1 = nullptr;

    // Form-level state.
    bool portOpen = false;
    std::int32_t openWarnCount = 0;
    QString lastCmd;
    QString replyText;
    std::int32_t listLines = 0;
    bool debugMode = false;
    std::int32_t swMin = 0;
    std::int32_t swMax = 0;
    QString iniPath;
    QString iniValue;
    devlink::ReplyAssembler rx; // rxBytes and rxCount
    calibration::CalTable cal;  // calTable, calMin, calMax
    std::int32_t autoPhase = 0;
    std::int32_t autoCount = 0;

    // Set once the window has been unloaded: waits return at once, so an operation that was waiting when
    // the operator left runs down without touching the line, the settings or the screen.
    bool unloaded = false;
    // Set while a calibration upload runs: no other command may fall between its X and Y commands.
    bool uploading = false;

    // shell
    void Form_Load();
    void Form_Unload();
    void Form_KeyDown(int KeyCode, int Shift);
    void Form_Resize();
    QString getIrStr(const QString& mainS, const QString& SecondS, const QString& defS, std::int16_t inType);
    void Command8_Click(); // show action
    void Command9_Click(); // Exit

    // console
    void Comb_Click();
    void List1_DblClick();
    void List2_DblClick();
    void CmdClear_Click();

    // link
    void Command1_Click();
    void SendCommand(QString text) override;
    void CmdSend_Click();
    void DelayMs(std::int32_t HowLong) override;
    void MSComm1_OnComm();
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
    QString GetFileName(std::int16_t inType, const QString& inTime);
    void CmdFile_Click();

    // Moves the window to the centre of its screen and shows it with the focus in the command box.
    void showCentred();

  signals:
    // The window has been unloaded: the program ends with it.
    void Unloaded();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What the operations need of the window besides SendCommand and DelayMs (link/frmMotor_link.cpp).
    bool stopped() const override { return unloaded; }
    void clearReply() override { replyText.clear(); }
    bool replied() const override { return !replyText.isEmpty(); }
    void armTimeout() override { Timer1->start(); }
    void disarmTimeout() override { Timer1->stop(); }
    void console(const QString& command) override;
    std::int32_t limit(std::int32_t nType, std::int32_t nVal) const override;
    void storeRange(std::int32_t calMin, std::int32_t calMax) override;

    void connectHandlers();
    void drawSwitchPictures();
    void uploadCalibration(std::int16_t rowCount);
    void publishReply(const QByteArray& reply);

    bool inAutoTick_ = false;
};
