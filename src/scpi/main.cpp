// SPDX-License-Identifier: MIT
// merovask-scpi: the filter as a SCPI instrument on a raw TCP socket (TCPIP0::HOST::5025::SOCKET). It opens
// the port as the panel does and holds it; its clients' operations run one at a time on the core's
// instrument, with the panel's commands, pauses and limits.

#include "device/number.h"
#include "device/texts.h"
#include "options.h"
#include "server.h"
#include "settings/settings.h"
#include "system/programdir.h"
#include "system/stopsignals.h"
#include "system/userdir.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QStringList words;
    for (int i = 0; i < argc; ++i) {
        words << QString::fromLocal8Bit(argv[i]);
    }
    const auto parsed = scpiserver::parse(words);
    if (const int* status = std::get_if<int>(&parsed)) {
        return *status;
    }
    const scpiserver::Options& options = std::get<scpiserver::Options>(parsed);

    QCoreApplication app(argc, argv);
    const settings::SettingsFile settings(platform::settingsPath(platform::programDir()));
    const QString port = options.port.value_or(settings.port());
    if (!filter::wholeValue16(port)) {
        scpiserver::say(texts::notAPortNumber(port));
        return scpiserver::kUsage;
    }
    service::Instrument instrument(port, options.device, settings);
    QObject::connect(&instrument, &service::Instrument::logged, &app, &scpiserver::say);
    scpiserver::Server server(instrument, options.allow, options.engineering, &scpiserver::say);

    // Clients are taken once the port has been tried, so that the first of them find it open (or know why
    // it is not).
    instrument.open([&](const service::Outcome&) {
        if (!server.listen(options.listen)) {
            app.exit(scpiserver::kNoListen);
            return;
        }
        if (options.listen.port == 0) {
            const scpiserver::Endpoint at = server.listening();
            const QString host = at.address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? QLatin1Char('[') + at.address.toString() + QLatin1Char(']')
                                     : at.address.toString();
            std::printf("%s:%u\n", qPrintable(host), at.port);
            std::fflush(stdout);
        }
    });
    bool stopping = false;
    platform::onStopSignals(&app, [&] {
        if (!std::exchange(stopping, true)) {
            server.stop([&app] { app.exit(scpiserver::kDone); });
        }
    });
    return app.exec();
}
