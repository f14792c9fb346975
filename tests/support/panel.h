// SPDX-License-Identifier: MIT
#pragma once
// A panel under test: the real window, offscreen, in a program folder and a per-user folder of its own with
// a pseudo-terminal device linked in the program folder as com1, and its message boxes answered from a
// script.

#include "frmMotor.h"
#include "support/form.h"
#include "support/msgboxscript.h"
#include "support/ptydevice.h"

#include <QTemporaryDir>
#include <memory>

namespace testsupport {

struct Panel {
    QTemporaryDir dir;
    // XDG_CONFIG_HOME while the panel lives: per-user settings, links and the port table stay out of the
    // home folder of whoever runs the tests.
    QTemporaryDir config;
    std::unique_ptr<PtyDevice> device; // com1 in dir
    MsgBoxScript boxes;
    std::unique_ptr<frmMotor> w;

    // Makes the folder and the device; `ini` (if not empty) becomes merovask.ini there before start-up.
    explicit Panel(const QByteArray& ini = {}, bool withDevice = true);
    ~Panel();

    // Creates the window, runs its start-up and shows it (offscreen).
    void start();
    QString path(const QString& name) const { return dir.filePath(name); }
    QByteArray iniBytes() const;
    // Texts of the reply list, in order.
    QStringList replies() const;
    // Commands that reached the device since the last clear, as text.
    QStringList commands() const;

  private:
    QByteArray savedConfigHome_;
    bool hadConfigHome_ = false;
};

} // namespace testsupport
