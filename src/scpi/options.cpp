// SPDX-License-Identifier: MIT
#include "options.h"

#include "device/number.h"
#include "device/texts.h"

#include "system/commandline.h"

#include <QCommandLineParser>

#include <array>
#include <cstdio>

namespace scpiserver {

namespace {

using platform::OptionForm;

const std::array<OptionForm, 5> kOptions{{
    {"port", "N", "the filter's port number (default: the port the panel opens, from its settings file)"},
    {"listen", "ADDR:PORT",
     "the address to listen on (default 127.0.0.1:5025; [ADDR]:PORT for IPv6);\n"
     "port 0 takes a free port and prints ADDR:PORT on standard output"},
    {"allow", "LIST",
     "the clients let in: addresses and networks ADDR/BITS, separated by commas\n"
     "(default: every client that reaches the listening address)"},
    {"device", "PATH", "open this device for the port (a /dev/serial/by-id/ name) instead of its number's"},
    {"engineering", nullptr, "also serve the raw device command and the calibration upload"},
}};

const char kIntro[] =
    R"(Usage: merovask-scpi [--port N] [--listen ADDR:PORT] [--allow LIST] [--device PATH] [--engineering]

Serves the Merovask tunable filter as a SCPI instrument on a raw TCP socket, as VISA clients reach it
(TCPIP0::HOST::5025::SOCKET): IEEE 488.2 common commands and the filter's SCPI tree, one line per message,
one error queue per client. Several clients may be connected at once; their operations run one at a time,
with the panel's commands, pauses and limits. The port is held while the server runs and opened again every
2 s after it went away. What happens is logged on standard error.
)";

const char kStatus[] = R"(An empty --allow or --device is the same as leaving it out.

Exit status: 0 ended by SIGINT or SIGTERM (the operation under way ends first); 1 usage error;
2 the address cannot be listened on.
)";

QString helpText() {
    constexpr int kWidth = 19;
    QString text = QString::fromLatin1(kIntro) + QStringLiteral("\nOptions:\n");
    const auto row = [&text](const QString& form, const QString& help) {
        QString indent = QStringLiteral("  ") + form.leftJustified(kWidth) + QStringLiteral("  ");
        for (const QString& line : help.split(QLatin1Char('\n'))) {
            text += indent + line + QLatin1Char('\n');
            indent = QString(kWidth + 4, QLatin1Char(' '));
        }
    };
    for (const OptionForm& option : kOptions) {
        const QString form = platform::optionSynopsis(option);
        row(form, QString::fromLatin1(option.help));
    }
    row(QStringLiteral("-h, --help"), QStringLiteral("this text"));
    row(QStringLiteral("--version"), QStringLiteral("the version"));
    return text + QLatin1Char('\n') + QString::fromLatin1(kStatus);
}

int usage(const QString& why) {
    say(why);
    std::fputs("Try 'merovask-scpi --help'.\n", stderr);
    return kUsage;
}

} // namespace

void say(const QString& message) {
    const QByteArray line = "merovask-scpi: " + message.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
}

std::variant<Options, int> parse(const QStringList& argv) {
    QCommandLineParser parser;
    const platform::CommandLineOptions cli = platform::addCommandLineOptions(parser, kOptions);
    const QList<QCommandLineOption>& options = cli.table;
    if (!parser.parse(argv)) {
        return usage(parser.errorText());
    }
    if (parser.isSet(cli.help)) {
        std::fputs(qPrintable(helpText()), stdout);
        return kDone;
    }
    if (parser.isSet(cli.version)) {
        std::printf("merovask-scpi %s\n", MEROVASK_VERSION);
        return kDone;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().front()));
    }

    Options o;
    if (parser.isSet(options[0])) {
        const QString port = parser.value(options[0]);
        if (!filter::wholeValue16(port)) {
            return usage(::texts::notAPortNumber(port));
        }
        o.port = port;
    }
    if (parser.isSet(options[1])) {
        const auto endpoint = parseEndpoint(parser.value(options[1]));
        if (!endpoint) {
            return usage(
                QStringLiteral("--listen takes ADDR:PORT with a numeric address ([ADDR]:PORT for IPv6), "
                               "not '%1'")
                    .arg(parser.value(options[1])));
        }
        o.listen = *endpoint;
    }
    if (parser.isSet(options[2])) {
        const auto allow = AllowList::parse(parser.value(options[2]));
        if (!allow) {
            return usage(QStringLiteral("--allow takes addresses and networks ADDR/BITS separated by commas, "
                                        "not '%1'")
                             .arg(parser.value(options[2])));
        }
        o.allow = *allow;
    }
    o.device = parser.value(options[3]);
    o.engineering = parser.isSet(options[4]);
    return o;
}

} // namespace scpiserver
