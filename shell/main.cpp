#include "platform/msgbox.h"
#include "shell/frmMotor.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::kAppTitle);
    // The drawing is SVG: without Qt's SVG plugins (libqt6svg6) the window merely has no icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/merovask.svg")));
    // Lets a Wayland desktop match the window to merovask.desktop, its name and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("merovask"));
    // The program ends when its window unloads, not when a message box shown during start-up closes.
    QApplication::setQuitOnLastWindowClosed(false);

    frmMotor window;
    QObject::connect(&window, &frmMotor::Unloaded, &app, &QCoreApplication::quit);
    window.Form_Load();
    window.showCentred();
    return app.exec();
}
