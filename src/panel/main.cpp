// SPDX-License-Identifier: MIT
#include "dialogs/msgbox.h"
#include "fontwarmup.h"
#include "frmMotor.h"
#include "windowicon.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // Answered before Qt connects to a display, so that it works where there is none (ssh, a package check).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("merovask %s\n", MEROVASK_VERSION);
            return 0;
        }
    }
    FontWarmUp fonts;
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::kAppTitle);
    QApplication::setWindowIcon(windowIcon());
    // Lets a Wayland desktop match the window to its desktop entry, its name and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(MEROVASK_APP_ID));
    // The program ends when its window unloads, not when a message box shown during start-up closes.
    QApplication::setQuitOnLastWindowClosed(false);

    fonts.wait();
    frmMotor window;
    QObject::connect(&window, &frmMotor::Unloaded, &app, &QCoreApplication::quit);
    window.Form_Load();
    window.showCentred();
    return app.exec();
}
