#include "platform/msgbox.h"
#include "shell/frmMotor.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::kAppTitle);
    // The program ends when its window unloads, not when a message box shown during start-up closes.
    QApplication::setQuitOnLastWindowClosed(false);

    frmMotor window;
    QObject::connect(&window, &frmMotor::Unloaded, &app, &QCoreApplication::quit);
    window.Form_Load();
    window.showCentred();
    return app.exec();
}
