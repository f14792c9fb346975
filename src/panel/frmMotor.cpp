// SPDX-License-Identifier: MIT
#include "frmMotor.h"

#include "device/texts.h"
#include "dialogs/msgbox.h"
#include "serial/ports.h"
#include "switchpictures.h"
#include "system/programdir.h"
#include "widgets/pixelstyle.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>

frmMotor::frmMotor(QWidget* parent) : QWidget(parent) {
    // Installed here rather than in main(), so that every window built (the program's, the tests', the
    // benchmark's) draws its frames alike; for the whole application, since a widget's own style does not
    // reach its children, and the message boxes and the file dialog have frames too. Before the controls
    // exist, so each is polished by the style it is drawn with.
    platform::usePixelStyle();
    ui.setupUi(this);
    CmdPort = {ui.CmdPort0, ui.CmdPort1, ui.CmdPort2, ui.CmdPort3};
    PicBack = {ui.PicBack0, ui.PicBack1, ui.PicBack2, ui.PicBack3};

    // Precise, as the line's response time-out: a default (coarse) timer may fire up to 5 % early.
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
    Timer2->setTimerType(Qt::PreciseTimer);

    // A fixed frame without minimise and maximise buttons, white like the frames inside it.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    CmdPort[0]->setPalette(white);
    CmdPort[0]->setStyleSheet(QStringLiteral("background-color: white;"));
    QPalette blue = ui.Labwait->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    ui.Labwait->setPalette(blue);

    drawSwitchPictures();
    ui.Picture1->setDrawing([this] { return PicBack[0]->picture(); });
    connectHandlers();
}

frmMotor::~frmMotor() {
    qApp->removeEventFilter(this);
}

void frmMotor::drawSwitchPictures() {
    std::array<QPoint, 4> ends;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        const QRect button = CmdPort[i]->geometry();
        ends[i] = QPoint(button.left() - 4, button.center().y());
    }
    // Drawn when first wanted, at the latest once the window has shown itself (eventFilter): the switch
    // panel lies below the window's first view, so no picture is seen as it starts.
    for (int i = 0; i < 4; ++i) {
        PicBack[static_cast<std::size_t>(i)]->setDrawing(
            [i, size = ui.Picture1->size(), ends] { return filter::drawSwitch(i, size, ends); });
    }
}

void frmMotor::connectHandlers() {
    // The window sees every key before the focused control does, and never takes the key away from it. The
    // same filter sees the double-clicks on the two lists and the switch label.
    qApp->installEventFilter(this);

    // Every control that starts an operation goes through the gate, which refuses it while the calibration
    // upload runs. Exit, the show action, the help list and the auto mode's switch stay usable.
    const auto gated = [this](void (frmMotor::*handler)()) {
        return [this, handler] { gate.pass([this, handler] { (this->*handler)(); }); };
    };
    connect(ui.Command1, &QPushButton::clicked, this, gated(&frmMotor::Command1_Click));
    connect(ui.Command2, &QPushButton::clicked, this, &frmMotor::Command2_Click);
    connect(ui.Command3, &QPushButton::clicked, this, gated(&frmMotor::Command3_Click));
    connect(ui.Command4, &QPushButton::clicked, this, gated(&frmMotor::Command4_Click));
    connect(ui.Command5, &QPushButton::clicked, this, gated(&frmMotor::Command5_Click));
    connect(ui.Command6, &QPushButton::clicked, this, gated(&frmMotor::Command6_Click));
    connect(ui.Command7, &QPushButton::clicked, this, gated(&frmMotor::Command7_Click));
    connect(ui.Command8, &QPushButton::clicked, this, &frmMotor::Command8_Click);
    connect(ui.Command9, &QPushButton::clicked, this, &frmMotor::Command9_Click);
    connect(ui.Command10, &QPushButton::clicked, this, gated(&frmMotor::Command10_Click));
    connect(ui.CmdSend, &QPushButton::clicked, this, gated(&frmMotor::CmdSend_Click));
    connect(ui.CmdClear, &QPushButton::clicked, this, &frmMotor::CmdClear_Click);
    connect(ui.CmdFile, &QPushButton::clicked, this, gated(&frmMotor::CmdFile_Click));
    for (int i = 0; i < 4; ++i) {
        connect(CmdPort[static_cast<std::size_t>(i)], &QPushButton::clicked, this,
                [this, i] { gate.pass([this, i] { CmdPort_Click(i); }); });
    }
    connect(ui.Comb, &QComboBox::activated, this, &frmMotor::Comb_Click);
    // Enter (either key) sends from the command box and tunes from the wavelength box, as their buttons do.
    connect(ui.TxtCom, &QLineEdit::returnPressed, this, gated(&frmMotor::CmdSend_Click));
    connect(ui.Text6, &QLineEdit::returnPressed, this, gated(&frmMotor::Command3_Click));
    connect(Timer2, &QTimer::timeout, this, gated(&frmMotor::Timer2_Timer));
    connect(&gate, &devlink::Gate::closedChanged, this, &frmMotor::greyOperations);

    // What the line reports.
    connect(&line, &devlink::SerialLine::replyReceived, this, &frmMotor::MSComm1_Reply);
    connect(&line, &devlink::SerialLine::timedOut, this, &frmMotor::Timer1_Timer);
    connect(&line, &devlink::SerialLine::commandShown, ui.TxtCom, &QLineEdit::setText);
    connect(&line, &devlink::SerialLine::message, this, [](const QString& text) { platform::MsgBox(text); });
}

void frmMotor::greyOperations(bool closed) {
    if (closed) {
        focusBeforeGrey_ = focusWidget();
        for (QWidget* control : std::initializer_list<QWidget*>{
                 ui.Command1, ui.Command3, ui.Command4, ui.Command5, ui.Command6, ui.Command7, ui.Command10,
                 ui.CmdSend, ui.CmdFile, CmdPort[0], CmdPort[1], CmdPort[2], CmdPort[3], ui.List1}) {
            greyed_.emplace_back(control, !control->testAttribute(Qt::WA_ForceDisabled));
            control->setEnabled(false);
        }
        // A greyed control gives its focus to the next one; it gets it back unless the operator moved it.
        focusAfterGrey_ = focusWidget();
        return;
    }
    for (const auto& [control, enabled] : greyed_) {
        control->setEnabled(enabled);
    }
    greyed_.clear();
    if (focusBeforeGrey_ != nullptr && focusWidget() == focusAfterGrey_ &&
        focusAfterGrey_ != focusBeforeGrey_) {
        focusBeforeGrey_->setFocus();
    }
    focusBeforeGrey_ = focusAfterGrey_ = nullptr;
}

void frmMotor::showCentred() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    activateWindow();
    ui.TxtCom->setFocus();
}

bool frmMotor::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == this) {
            const auto* key = static_cast<QKeyEvent*>(event);
            int shift = 0;
            shift |= (key->modifiers() & Qt::ShiftModifier) ? 1 : 0;
            shift |= (key->modifiers() & Qt::ControlModifier) ? 2 : 0;
            shift |= (key->modifiers() & Qt::AltModifier) ? 4 : 0;
            Form_KeyDown(key->key() == Qt::Key_F1 ? 112 : key->key(), shift);
        }
        return false;
    }
    case QEvent::ToolTip:
        // Built when the operator hovers, not at start-up: adapters come and go, and listing them reads
        // sysfs.
        if (watched == ui.Text1) {
            ui.Text1->setToolTip(texts::portList(platform::listPorts(platform::programDir())));
        }
        return false;
    case QEvent::Paint:
        // The switch pictures are drawn after the window's first picture, so that they cost its start nothing
        // and are ready long before the switch panel can be seen or a switch button pressed.
        if (watched == this && !switchPicturesDrawn_) {
            switchPicturesDrawn_ = true;
            QTimer::singleShot(0, this, [this] {
                for (const PictureBox* picture : PicBack) {
                    picture->picture();
                }
                ui.Picture1->picture();
            });
        }
        return false;
    case QEvent::MouseButtonDblClick:
        if (watched == ui.List1->viewport()) {
            gate.pass([this] { List1_DblClick(); });
        } else if (watched == ui.List2->viewport()) {
            List2_DblClick();
        } else if (watched == ui.Label3) {
            Label3_DblClick();
        }
        return false;
    default:
        return false;
    }
}

void frmMotor::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}
