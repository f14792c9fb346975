// SPDX-License-Identifier: MIT
#include "support/panel.h"

#include "system/programdir.h"

#include <QFile>

namespace testsupport {

Panel::Panel(const QByteArray& ini, bool withDevice)
    : savedConfigHome_(qgetenv("XDG_CONFIG_HOME")),
      hadConfigHome_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    platform::setProgramDirForTests(dir.path());
    if (!ini.isEmpty()) {
        QFile file(path(QStringLiteral("merovask.ini")));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(ini);
        }
    }
    if (withDevice) {
        device = std::make_unique<PtyDevice>(dir.path(), 1);
    }
}

Panel::~Panel() {
    w.reset();
    platform::setProgramDirForTests({});
    if (hadConfigHome_) {
        qputenv("XDG_CONFIG_HOME", savedConfigHome_);
    } else {
        qunsetenv("XDG_CONFIG_HOME");
    }
}

void Panel::start() {
    w = std::make_unique<frmMotor>();
    w->Form_Load();
    w->showCentred();
}

QByteArray Panel::iniBytes() const {
    QFile file(path(QStringLiteral("merovask.ini")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList Panel::replies() const {
    QStringList out;
    for (int i = 0; i < ui(w).List2->count(); ++i) {
        out << ui(w).List2->item(i)->text();
    }
    return out;
}

QStringList Panel::commands() const {
    QStringList out;
    for (const auto& command : device->commands()) {
        out << QString::fromLatin1(command.text);
    }
    return out;
}

} // namespace testsupport
