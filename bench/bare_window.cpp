// SPDX-License-Identifier: MIT
// A bare Qt window: a caption and a fixed size, nothing else. The floor that bench_startup measures the
// panel's start-up against.
//
// usage: bare_window CAPTION WIDTH HEIGHT

#include <QApplication>
#include <QWidget>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: bare_window CAPTION WIDTH HEIGHT\n");
        return 2;
    }
    QWidget window;
    window.setWindowTitle(args[1]);
    window.setFixedSize(args[2].toInt(), args[3].toInt());
    window.show();
    return QApplication::exec();
}
