// SPDX-License-Identifier: MIT
// merovask-plot: draws a calibration table for merovask-ctl's check --plot. A program of its own, so that the
// tool does not load Qt's GUI libraries (a third of its start-up) for the commands that need no fonts.
//
// usage: merovask-plot FILE PNG; exit 0 drawn, 4 the table is refused (message on standard error), 1
// otherwise.

#include "calibration/calfile.h"
#include "plot.h"

#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: merovask-plot FILE PNG\n", stderr);
        return 1;
    }
    // Fonts for the labels, never a screen; and none of Qt's remarks about the session on standard error,
    // which scripts read (this program says what went wrong itself).
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg) {
            std::fprintf(stderr, "merovask-plot: %s\n", qPrintable(message));
        }
    });
    QGuiApplication app(argc, argv);
    const QString path = QFile::decodeName(argv[1]);
    const QString png = QFile::decodeName(argv[2]);
    calibration::CalTable table;
    const calibration::ReadResult read = calibration::readCalibrationFile(path, table);
    if (read.kind != calibration::ReadResult::Ok) {
        std::fprintf(stderr, "merovask-plot: %s\n", qPrintable(read.message));
        return 4;
    }
    const QString title = QStringLiteral("%1: %2 to %3, %4 rows")
                              .arg(QFileInfo(path).fileName())
                              .arg(table.calMin)
                              .arg(table.calMax)
                              .arg(read.rowCount);
    if (!ctl::plotTable(table, read, title, png)) {
        std::fprintf(stderr, "merovask-plot: cannot write %s\n", qPrintable(png));
        return 1;
    }
    return 0;
}
