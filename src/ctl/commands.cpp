// SPDX-License-Identifier: MIT
#include "commands.h"

#include "calibration/calfile.h"
#include "calibration/upload.h"
#include "device/commands.h"
#include "device/number.h"
#include "device/texts.h"
#include "line/serialline.h"
#include "operations/console.h"
#include "operations/operations.h"
#include "serial/ports.h"
#include "system/programdir.h"
#include "system/stopsignals.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <unistd.h>

namespace ctl {

namespace {

int interrupted() {
    return 128 + platform::caughtStopSignal();
}

int openPort(Run& run) {
    if (run.line->open(QString::number(run.port)) == devlink::SerialLine::OpenEnd::Opened) {
        return kDone;
    }
    say(texts::openFailure(run.port, run.line->openTrouble(), run.line->openedDevice()));
    return kPortFailed;
}

// Tells on standard error when a value went out other than it was given.
void reportLimited(const QString& what, const QString& given, std::int32_t sent, const QString& range) {
    if (filter::wholeValue(given) != std::optional<std::int32_t>(sent)) {
        say(QStringLiteral("%1 %2 sent as %3 (range %4)").arg(what, given).arg(sent).arg(range));
    }
}

QString wavelengths(const devlink::SerialLine& line) {
    return QStringLiteral("%1~%2").arg(line.limits().swMin).arg(line.limits().swMax);
}

const QString kSteps = QStringLiteral("1~30");

// Opens the port, runs the operation and waits for the device's answer to its last command.
int operate(Run& run, void (*operation)(Run&)) {
    if (const int status = openPort(run); status != kDone) {
        return status;
    }
    operation(run);
    if (run.line->awaitReply(run.options.timeoutMs)) {
        return kDone;
    }
    if (run.line->wentAway()) {
        say(texts::portWentAway());
        return kPortFailed;
    }
    if (platform::caughtStopSignal() != 0) {
        return interrupted();
    }
    say(texts::noResponse());
    return kNoReply;
}

void step(Run& run, filter::LimitKind kind, QString (*command)(std::int32_t), const QString& what,
          const QString& range) {
    filter::TextField box(run.arg(0));
    reportLimited(what, run.arg(0), filter::tune(*run.line, box, kind, command), range);
}

int tune(Run& run) {
    return operate(run, [](Run& r) {
        step(r, filter::kWavelength, &devlink::cmd::wavelength, QStringLiteral("wavelength"),
             wavelengths(*r.line));
    });
}

int up(Run& run) {
    return operate(
        run, [](Run& r) { step(r, filter::kSteps, &devlink::cmd::stepUp, QStringLiteral("steps"), kSteps); });
}

int down(Run& run) {
    return operate(run, [](Run& r) {
        step(r, filter::kSteps, &devlink::cmd::stepDown, QStringLiteral("steps"), kSteps);
    });
}

int calibrate(Run& run) {
    return operate(run, [](Run& r) { filter::calibrate(*r.line); });
}

int scanSetup(Run& run) {
    return operate(run, [](Run& r) {
        filter::TextField start(r.arg(0));
        filter::TextField end(r.arg(1));
        filter::TextField stay(r.arg(2));
        filter::scanSetting(*r.line, start, end, stay);
        if (!r.line->stopped()) {
            reportLimited(QStringLiteral("start"), r.arg(0), start.text().toInt(), wavelengths(*r.line));
            reportLimited(QStringLiteral("end"), r.arg(1), end.text().toInt(), wavelengths(*r.line));
            reportLimited(QStringLiteral("stay time"), r.arg(2), stay.text().toInt(),
                          QStringLiteral("1~300"));
        }
    });
}

int scan(Run& run) {
    return operate(run, [](Run& r) {
        reportLimited(QStringLiteral("span"), r.arg(0), filter::scan(*r.line, r.arg(0)), kSteps);
    });
}

QString checkOutput(const QStringList& args) {
    const std::optional<std::int32_t> output = filter::wholeValue(args.value(0));
    if (!output || *output < 1 || *output > 4) {
        return QStringLiteral("switch takes an output 1, 2, 3 or 4, not '%1'").arg(args.value(0));
    }
    return {};
}

int selectOutput(Run& run) {
    return operate(
        run, [](Run& r) { filter::selectOutput(*r.line, filter::wholeValue(r.arg(0)).value_or(1) - 1); });
}

int get(Run& run) {
    return operate(run, [](Run& r) { devlink::readStamp(*r.line); });
}

int send(Run& run) {
    return operate(run, [](Run& r) { devlink::console(*r.line, r.arg(0)); });
}

std::optional<calibration::ReadResult> readTable(const QString& path, calibration::CalTable& table) {
    calibration::ReadResult read = calibration::readCalibrationFile(path, table);
    if (read.kind != calibration::ReadResult::Ok) {
        say(read.message);
        return std::nullopt;
    }
    return read;
}

int upload(Run& run) {
    calibration::CalTable table;
    const auto read = readTable(run.arg(0), table);
    if (!read) {
        return kRefused;
    }
    if (!run.options.yes && ::isatty(STDIN_FILENO) != 1) {
        return usage(QStringLiteral("upload asks before it loads the table; without a terminal, give --yes"));
    }
    if (const int status = openPort(run); status != kDone) {
        return status;
    }
    if (!run.options.yes && !confirmed(calibration::confirmText(table, read->rowCount))) {
        say(QStringLiteral("nothing loaded"));
        return platform::caughtStopSignal() != 0 ? interrupted() : kUsage;
    }
    QObject::connect(run.line, &devlink::SerialLine::commandSent, run.line,
                     [shown = progress(calibration::uploadCommandCount(read->rowCount)),
                      sent = 0](const QString&) mutable { shown(++sent); });
    switch (calibration::upload(*run.line, table, read->rowCount, *run.settings)) {
    case calibration::UploadEnd::Done:
        say(texts::uploadDone());
        return kDone;
    case calibration::UploadEnd::NoResponse:
        say(texts::uploadNoResponse());
        return kNoReply;
    case calibration::UploadEnd::Stopped:
        break;
    }
    if (run.line->wentAway()) {
        say(texts::portWentAwayDuringUpload(run.port));
        return kPortFailed;
    }
    return interrupted();
}

// The drawing is made by merovask-plot, beside this program or in its libexec folder when installed.
bool plot(const QString& table, const QString& png) {
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {here + QStringLiteral("/merovask-plot"),
                                     here + QStringLiteral("/../libexec/merovask/merovask-plot")}) {
        if (QFileInfo(candidate).isExecutable()) {
            QProcess drawer;
            drawer.setProcessChannelMode(QProcess::ForwardedChannels);
            drawer.start(candidate, {table, png});
            if (drawer.waitForFinished(-1) && drawer.exitStatus() == QProcess::NormalExit &&
                drawer.exitCode() == 0) {
                return true;
            }
            say(QStringLiteral("cannot draw the table into %1").arg(png));
            return false;
        }
    }
    say(QStringLiteral(
        "cannot draw: merovask-plot is neither beside merovask-ctl nor in ../libexec/merovask"));
    return false;
}

int check(Run& run) {
    const QString path = run.arg(0);
    calibration::CalTable table;
    const auto read = readTable(path, table);
    if (!read) {
        return kRefused;
    }
    if (run.options.json) {
        const QJsonObject summary{{QStringLiteral("file"), path},
                                  {QStringLiteral("rows"), read->rowCount},
                                  {QStringLiteral("min"), table.calMin},
                                  {QStringLiteral("max"), table.calMax}};
        std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    } else {
        std::printf("%d rows, %d to %d\n", read->rowCount, table.calMin, table.calMax);
    }
    if (run.options.plot && !plot(path, *run.options.plot)) {
        return kUsage;
    }
    return kDone;
}

int monitor(Run& run) {
    if (const int status = openPort(run); status != kDone) {
        return status;
    }
    while (!run.line->stopped()) {
        run.line->DelayMs(std::numeric_limits<std::int32_t>::max());
    }
    if (run.line->wentAway()) {
        say(texts::portWentAway());
        return kPortFailed;
    }
    return kDone;
}

// The panel's port list: a line per number, or with --json an object per number.
int ports(Run& run) {
    const QList<platform::PortEntry> entries = platform::listPorts(platform::programDir());
    QByteArray out;
    if (!run.options.json) {
        out = texts::portList(entries).toLocal8Bit() + '\n';
    }
    for (const platform::PortEntry& port : run.options.json ? entries : QList<platform::PortEntry>{}) {
        const QJsonObject object{{QStringLiteral("port"), port.number},
                                 {QStringLiteral("device"), port.device},
                                 {QStringLiteral("description"), port.description},
                                 {QStringLiteral("present"), port.present},
                                 {QStringLiteral("accessible"), port.accessible}};
        out += QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
    return kDone;
}

const std::array<Command, 13> kCommands{{
    {"tune", 1, "tune WAVELENGTH", "tune the filter (C<n>); limited to the range of the last calibration",
     true, nullptr, nullptr, tune},
    {"up", 1, "up STEPS", "step the wavelength up by 1 to 30 (I<n>)", true, nullptr, nullptr, up},
    {"down", 1, "down STEPS", "step the wavelength down by 1 to 30 (D<n>)", true, nullptr, nullptr, down},
    {"calibrate", 0, "calibrate", "the device's calibration (Z)", true, nullptr, nullptr, calibrate},
    {"scan-setup", 3, "scan-setup START END STAY",
     "scan start and end wavelength and stay time in units of 100 ms (1 to 300),\n"
     "sent as L, H and T at least 500 ms apart",
     true, nullptr, nullptr, scanSetup},
    {"scan", 1, "scan SPAN", "start a scan with a span of 1 to 30 (S<n>)", true, nullptr, nullptr, scan},
    {"switch", 1, "switch 1|2|3|4", "select an output of the 1x4 switch (A, B, C, D)", true, nullptr,
     checkOutput, selectOutput},
    {"get", 0, "get", "read the date stamp of the device's calibration (W103, W104, W105, 50 ms apart)", true,
     nullptr, nullptr, get},
    {"send", 1, "send TEXT", "send a command text as the panel's console does (\"get\" included)", true,
     nullptr, nullptr, send},
    {"upload", 1, "upload FILE [--yes]",
     "check a calibration table, ask, load it into the device and store its range", true, "yes", nullptr,
     upload},
    {"check", 1, "check FILE [--plot PNG]",
     "check a calibration table (no port); --plot draws it into a PNG file", false, "plot", nullptr, check},
    {"monitor", 0, "monitor", "print every reply with the seconds since start until Ctrl+C or SIGTERM", true,
     nullptr, nullptr, monitor},
    {"ports", 0, "ports", "list the port numbers with their devices (no port is opened)", false, nullptr,
     nullptr, ports},
}};

} // namespace

std::span<const Command> commands() {
    return kCommands;
}

const Command* findCommand(const QString& name) {
    const auto it = std::find_if(kCommands.begin(), kCommands.end(),
                                 [&](const Command& c) { return name == QLatin1String(c.name); });
    return it == kCommands.end() ? nullptr : &*it;
}

} // namespace ctl
