// SPDX-License-Identifier: MIT
// merovask-ctl: the panel's operations for scripts. The same port numbering and settings file, the same
// command texts, limits, waits, reply framing and calibration checks as the panel, on the same serial line.

#include "commands.h"
#include "device/number.h"
#include "device/texts.h"
#include "line/serialline.h"
#include "options.h"
#include "settings/settings.h"
#include "system/programdir.h"
#include "system/stopsignals.h"
#include "system/userdir.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QStringList words;
    for (int i = 0; i < argc; ++i) {
        words << QString::fromLocal8Bit(argv[i]);
    }
    const auto parsed = ctl::parse(words);
    if (const int* status = std::get_if<int>(&parsed)) {
        return *status;
    }
    const ctl::Options& options = std::get<ctl::Options>(parsed);
    const ctl::Command& command = *ctl::findCommand(options.words.front());

    QCoreApplication app(argc, argv);
    ctl::Run run{options};
    if (!command.needsPort) {
        return command.run(run);
    }

    const settings::SettingsFile settings(platform::settingsPath(platform::programDir()));
    const QString portText = options.port.value_or(settings.port());
    const std::optional<std::int16_t> port = filter::wholeValue16(portText);
    if (!port) {
        ctl::say(texts::notAPortNumber(portText));
        return ctl::kPortFailed;
    }

    devlink::SerialLine line;
    line.setLimits(settings.limits());
    const bool monitor = qstrcmp(command.name, "monitor") == 0;
    ctl::ReplyPrinter printer(options.json ? ctl::ReplyPrinter::Form::Json
                              : monitor    ? ctl::ReplyPrinter::Form::Timed
                                           : ctl::ReplyPrinter::Form::Plain,
                              sinceStart);
    QObject::connect(&line, &devlink::SerialLine::commandSent, &line,
                     [&printer](const QString& sent) { printer.sent(sent); });
    QObject::connect(&line, &devlink::SerialLine::replyReceived, &line,
                     [&printer](const QByteArray& reply) { printer.print(reply); });
    QObject::connect(&line, &devlink::SerialLine::portGone, &line, &devlink::SerialLine::stop);
    // SIGINT and SIGTERM end the operation under way at its next step; monitor ends cleanly.
    platform::onStopSignals(&line, [&line] { line.stop(); });
    run.line = &line;
    run.settings = &settings;
    run.printer = &printer;
    run.port = *port;
    return command.run(run);
}
