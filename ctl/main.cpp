// merovask-ctl: the panel's operations for scripts. The same port numbering and settings file, the same
// command texts, limits, waits, reply framing and calibration checks as the panel, through the same core.

#include "calibration/calfile.h"
#include "calibration/upload.h"
#include "ctl/ctlline.h"
#include "filter/number.h"
#include "filter/operations.h"
#include "link/commands.h"
#include "link/console.h"
#include "platform/ports.h"
#include "platform/programdir.h"
#include "platform/userdir.h"
#include "shell/settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

enum Status : int {
    kDone = 0,
    kUsage = 1,
    kPortFailed = 2,
    kNoReply = 3,
    kRefused = 4,
};

const char kHelp[] = R"(Usage: merovask-ctl [--port N] [--timeout MS] [--json] COMMAND [ARGS]

Drives the Merovask tunable filter from scripts, through the same port, settings file and checks as the
merovask panel. Each reply of the device is printed on standard output, one line each, without its closing
blank; messages go to standard error.

Commands:
  tune WAVELENGTH          tune the filter (C<n>); limited to the range of the last calibration
  up STEPS                 step the wavelength up by 1 to 30 (I<n>)
  down STEPS               step the wavelength down by 1 to 30 (D<n>)
  calibrate                the device's calibration (Z)
  scan-setup START END STAY
                           scan start and end wavelength and stay time in units of 100 ms (1 to 300),
                           sent as L, H and T at least 500 ms apart
  scan SPAN                start a scan with a span of 1 to 30 (S<n>)
  switch 1|2|3|4           select an output of the 1x4 switch (A, B, C, D)
  get                      read the date stamp of the device's calibration (W103, W104, W105, 50 ms apart)
  send TEXT                send a command text as the panel's console does ("get" included)
  upload FILE [--yes]      check a calibration table, ask, load it into the device and store its range
  check FILE [--plot PNG]  check a calibration table (no port); --plot draws it into a PNG file
  monitor                  print every reply with the seconds since start until Ctrl+C or SIGTERM
  ports                    list the port numbers with their devices (no port is opened)

Numbers are read as the panel reads its boxes ("15 50" is 1550, "1550.5" is 1550) and limited as the panel
limits them; a limited value is reported on standard error.

Options:
  --port N       port number (default: the port the panel opens, from its settings file)
  --timeout MS   how long to wait for the device's reply (default 1000)
  --json         one JSON object per reply: {"command": ..., "reply": ..., "t": seconds since start}
  --yes          upload without asking
  --plot PNG     with check: draw value against wavelength into PNG
  -h, --help     this text
  --version      the version

Exit status: 0 done; 1 usage error or upload not confirmed; 2 the port cannot be opened or went away;
3 no reply within the time-out; 4 calibration file refused.
)";

struct Options {
    std::optional<QString> port;
    int timeoutMs = 1000;
    bool json = false;
    bool yes = false;
    std::optional<QString> plot;
    QStringList words; // the command and its arguments
};

struct CommandForm {
    const char* name;
    int args;
    const char* usage;
};

const CommandForm kCommands[] = {
    {"tune", 1, "tune WAVELENGTH"},
    {"up", 1, "up STEPS"},
    {"down", 1, "down STEPS"},
    {"calibrate", 0, "calibrate"},
    {"scan-setup", 3, "scan-setup START END STAY"},
    {"scan", 1, "scan SPAN"},
    {"switch", 1, "switch 1|2|3|4"},
    {"get", 0, "get"},
    {"send", 1, "send TEXT"},
    {"upload", 1, "upload FILE [--yes]"},
    {"check", 1, "check FILE [--plot PNG]"},
    {"monitor", 0, "monitor"},
    {"ports", 0, "ports"},
};

void say(const QString& message) {
    const QByteArray line = "merovask-ctl: " + message.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
}

int usage(const QString& why) {
    say(why);
    std::fputs("Try 'merovask-ctl --help'.\n", stderr);
    return kUsage;
}

// Options anywhere among the words; "--" ends them. A word that starts with a single '-' is an argument, so
// that "up -5" reads -5 as the panel would read it from a box.
std::optional<Options> parse(const QStringList& argv, int* status) {
    Options options;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < argv.size(); ++i) {
        const QString& word = argv[i];
        if (optionsEnded || !word.startsWith(QLatin1String("--"))) {
            if (!optionsEnded && word == QLatin1String("-h")) {
                std::fputs(kHelp, stdout);
                *status = kDone;
                return std::nullopt;
            }
            options.words << word;
            continue;
        }
        if (word == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = word;
        std::optional<QString> value;
        if (const qsizetype eq = word.indexOf(QLatin1Char('=')); eq > 0) {
            name = word.left(eq);
            value = word.mid(eq + 1);
        }
        const auto takeValue = [&]() -> std::optional<QString> {
            if (value) {
                return value;
            }
            if (i + 1 < argv.size()) {
                return argv[++i];
            }
            *status = usage(QStringLiteral("option %1 needs a value").arg(name));
            return std::nullopt;
        };
        const auto flag = [&](bool& target) {
            if (value) {
                *status = usage(QStringLiteral("option %1 takes no value").arg(name));
                return false;
            }
            target = true;
            return true;
        };
        if (name == QLatin1String("--help")) {
            std::fputs(kHelp, stdout);
            *status = kDone;
            return std::nullopt;
        }
        if (name == QLatin1String("--version")) {
            std::printf("merovask-ctl %s\n", MEROVASK_VERSION);
            *status = kDone;
            return std::nullopt;
        }
        if (name == QLatin1String("--port")) {
            if (!(options.port = takeValue())) {
                return std::nullopt;
            }
        } else if (name == QLatin1String("--timeout")) {
            const std::optional<QString> text = takeValue();
            if (!text) {
                return std::nullopt;
            }
            bool ok = false;
            options.timeoutMs = text->toInt(&ok);
            if (!ok || options.timeoutMs < 0) {
                *status = usage(
                    QStringLiteral("--timeout takes a whole number of milliseconds, not '%1'").arg(*text));
                return std::nullopt;
            }
        } else if (name == QLatin1String("--json")) {
            if (!flag(options.json)) {
                return std::nullopt;
            }
        } else if (name == QLatin1String("--yes")) {
            if (!flag(options.yes)) {
                return std::nullopt;
            }
        } else if (name == QLatin1String("--plot")) {
            if (!(options.plot = takeValue())) {
                return std::nullopt;
            }
        } else {
            *status = usage(QStringLiteral("unknown option %1").arg(name));
            return std::nullopt;
        }
    }
    if (options.words.isEmpty()) {
        *status = usage(QStringLiteral("no command given"));
        return std::nullopt;
    }
    const QString& command = options.words.front();
    const CommandForm* form = nullptr;
    for (const CommandForm& candidate : kCommands) {
        if (command == QLatin1String(candidate.name)) {
            form = &candidate;
        }
    }
    if (form == nullptr) {
        *status = usage(QStringLiteral("unknown command '%1'").arg(command));
        return std::nullopt;
    }
    if (options.words.size() - 1 != form->args) {
        *status = usage(QStringLiteral("usage: merovask-ctl %1").arg(QLatin1String(form->usage)));
        return std::nullopt;
    }
    if (options.yes && command != QLatin1String("upload")) {
        *status = usage(QStringLiteral("--yes goes with upload only"));
        return std::nullopt;
    }
    if (options.plot && command != QLatin1String("check")) {
        *status = usage(QStringLiteral("--plot goes with check only"));
        return std::nullopt;
    }
    if (command == QLatin1String("switch")) {
        const std::optional<std::int32_t> output = filter::wholeValue(options.words[1]);
        if (!output || *output < 1 || *output > 4) {
            *status =
                usage(QStringLiteral("switch takes an output 1, 2, 3 or 4, not '%1'").arg(options.words[1]));
            return std::nullopt;
        }
    }
    return options;
}

// SIGINT and SIGTERM end the operation under way at its next step; monitor ends cleanly.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t caught = 0;

extern "C" void onSignal(int number) {
    caught = number;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], "s", 1);
}

void catchSignals() {
    if (::pipe(signalPipe) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a prompt waiting for an answer gives up too.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int interrupted() {
    return 128 + static_cast<int>(caught);
}

// The settings file and the limits, found as the panel finds them.
struct Settings {
    QString iniPath;
    QString port;
    std::int32_t swMin = 0;
    std::int32_t swMax = 0;
};

Settings readSettings() {
    Settings s;
    s.iniPath = platform::settingsPath(platform::programDir());
    const QString& section = shell::kSection;
    s.port = shell::getIrStr(s.iniPath, section, QStringLiteral("port"), QStringLiteral("1"), 0);
    // A limit whose text does not convert stays 0, as in the panel.
    s.swMin = filter::wholeValue(
                  shell::getIrStr(s.iniPath, section, QStringLiteral("SWmin"), QStringLiteral("1510"), 0))
                  .value_or(0);
    s.swMax = filter::wholeValue(
                  shell::getIrStr(s.iniPath, section, QStringLiteral("SWmax"), QStringLiteral("1589"), 0))
                  .value_or(0);
    return s;
}

// Tells on standard error when a value went out other than it was given.
void reportLimited(const QString& what, const QString& given, std::int32_t sent, const QString& range) {
    if (filter::wholeValue(given) != std::optional<std::int32_t>(sent)) {
        say(QStringLiteral("%1 %2 sent as %3 (range %4)").arg(what, given).arg(sent).arg(range));
    }
}

std::optional<calibration::ReadResult> readTable(const QString& path, calibration::CalTable& table) {
    calibration::ReadResult read = calibration::readCalibrationFile(path, table);
    if (read.kind != calibration::ReadResult::Ok) {
        say(read.message);
        return std::nullopt;
    }
    return read;
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

int check(const Options& options) {
    const QString path = options.words[1];
    calibration::CalTable table;
    const auto read = readTable(path, table);
    if (!read) {
        return kRefused;
    }
    if (options.json) {
        const QJsonObject summary{{QStringLiteral("file"), path},
                                  {QStringLiteral("rows"), read->rowCount},
                                  {QStringLiteral("min"), table.calMin},
                                  {QStringLiteral("max"), table.calMax}};
        std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    } else {
        std::printf("%d rows, %d to %d\n", read->rowCount, table.calMin, table.calMax);
    }
    if (options.plot && !plot(path, *options.plot)) {
        return kUsage;
    }
    return kDone;
}

// The panel's port list: a line per number, or with --json an object per number.
int ports(const Options& options) {
    const QList<platform::PortEntry> entries = platform::listPorts(platform::programDir());
    QByteArray out;
    if (!options.json) {
        out = platform::portListText(entries).toLocal8Bit() + '\n';
    }
    for (const platform::PortEntry& port : options.json ? entries : QList<platform::PortEntry>{}) {
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

// The operator's answer to the panel's question, read from the terminal.
bool confirmed(const QString& question) {
    for (;;) {
        std::fprintf(stderr, "%s [y/n] ", qPrintable(question));
        std::fflush(stderr);
        char answer[64];
        if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
            std::fputc('\n', stderr);
            return false;
        }
        const QString text = QString::fromLocal8Bit(answer).trimmed().toLower();
        if (text == QLatin1String("y") || text == QLatin1String("yes")) {
            return true;
        }
        if (text == QLatin1String("n") || text == QLatin1String("no")) {
            return false;
        }
    }
}

// Progress on standard error: a bar on a terminal, a line per tenth otherwise.
std::function<void(int)> progress(int total) {
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return [terminal, total, shown = -1](int sent) mutable {
        const int percent = sent * 100 / total;
        if (terminal) {
            if (percent != shown) {
                const int filled = percent * 40 / 100;
                std::fprintf(stderr, "\r[%s%s] %3d%%", QByteArray(filled, '#').constData(),
                             QByteArray(40 - filled, ' ').constData(), percent);
                if (sent == total) {
                    std::fputc('\n', stderr);
                }
                std::fflush(stderr);
            }
        } else if (percent / 10 != shown / 10) {
            std::fprintf(stderr, "%d%%\n", percent / 10 * 10);
            std::fflush(stderr);
        }
        shown = percent;
    };
}

int upload(const Options& options, ctl::CtlLine& line, std::int16_t port) {
    calibration::CalTable table;
    const auto read = readTable(options.words[1], table);
    if (!read) {
        return kRefused;
    }
    if (!options.yes && ::isatty(STDIN_FILENO) != 1) {
        return usage(QStringLiteral("upload asks before it loads the table; without a terminal, give --yes"));
    }
    if (const QString failure = line.open(port); !failure.isEmpty()) {
        say(failure);
        return kPortFailed;
    }
    if (!options.yes && !confirmed(calibration::confirmText(table, read->rowCount))) {
        say(QStringLiteral("nothing loaded"));
        return caught ? interrupted() : kUsage;
    }
    line.onSent = progress(calibration::uploadCommandCount(read->rowCount));
    switch (calibration::upload(line, table, read->rowCount)) {
    case calibration::UploadEnd::Done:
        say(calibration::resetText());
        return kDone;
    case calibration::UploadEnd::NoResponse:
        say(calibration::noResponseText());
        return kNoReply;
    case calibration::UploadEnd::Stopped:
        break;
    }
    if (line.lineGone()) {
        say(QStringLiteral("port %1 went away during the upload (hung up or unplugged)").arg(port));
        return kPortFailed;
    }
    return interrupted();
}

// Runs one command on the open line; returns the exit status.
int operate(const Options& options, ctl::CtlLine& line, const Settings& settings) {
    const QString& command = options.words[0];
    const QString arg = options.words.value(1);
    const QString wavelengths = QStringLiteral("%1~%2").arg(settings.swMin).arg(settings.swMax);
    const QString steps = QStringLiteral("1~30");
    if (command == QLatin1String("tune") || command == QLatin1String("up") ||
        command == QLatin1String("down")) {
        const bool tune = command == QLatin1String("tune");
        filter::TextField box(arg);
        const std::int32_t sent = filter::tune(line, box, tune ? filter::kWavelength : filter::kSteps,
                                               tune                             ? &devlink::cmd::wavelength
                                               : command == QLatin1String("up") ? &devlink::cmd::stepUp
                                                                                : &devlink::cmd::stepDown);
        reportLimited(tune ? QStringLiteral("wavelength") : QStringLiteral("steps"), arg, sent,
                      tune ? wavelengths : steps);
    } else if (command == QLatin1String("calibrate")) {
        filter::calibrate(line);
    } else if (command == QLatin1String("scan-setup")) {
        filter::TextField start(options.words[1]);
        filter::TextField end(options.words[2]);
        filter::TextField stay(options.words[3]);
        filter::scanSetting(line, start, end, stay);
        if (!line.stopped()) {
            reportLimited(QStringLiteral("start"), options.words[1], start.text().toInt(), wavelengths);
            reportLimited(QStringLiteral("end"), options.words[2], end.text().toInt(), wavelengths);
            reportLimited(QStringLiteral("stay time"), options.words[3], stay.text().toInt(),
                          QStringLiteral("1~300"));
        }
    } else if (command == QLatin1String("scan")) {
        reportLimited(QStringLiteral("span"), arg, filter::scan(line, arg), steps);
    } else if (command == QLatin1String("switch")) {
        filter::selectOutput(line,
                             filter::wholeValue(arg).value_or(1) - 1); // checked when the words were read
    } else if (command == QLatin1String("get")) {
        devlink::readStamp(line);
    } else if (command == QLatin1String("send")) {
        line.console(arg);
    }
    if (line.awaitReply()) {
        return kDone;
    }
    if (line.lineGone()) {
        say(QStringLiteral("the port went away (hung up or unplugged)"));
        return kPortFailed;
    }
    if (caught) {
        return interrupted();
    }
    say(QStringLiteral("no response form device"));
    return kNoReply;
}

} // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QStringList words;
    for (int i = 0; i < argc; ++i) {
        words << QString::fromLocal8Bit(argv[i]);
    }
    int status = kDone;
    const std::optional<Options> options = parse(words, &status);
    if (!options) {
        return status;
    }
    const QString& command = options->words[0];

    QCoreApplication app(argc, argv);
    if (command == QLatin1String("check")) {
        return check(*options);
    }
    if (command == QLatin1String("ports")) {
        return ports(*options);
    }

    catchSignals();
    const Settings settings = readSettings();
    const QString portText = options->port.value_or(settings.port);
    const std::optional<std::int16_t> port = filter::wholeValue16(portText);
    if (!port) {
        say(QStringLiteral("'%1' is no port number").arg(portText));
        return kPortFailed;
    }

    ctl::Output output;
    output.json = options->json;
    output.timestamps = command == QLatin1String("monitor");
    ctl::CtlLine line(output, options->timeoutMs, sinceStart);
    line.iniPath = settings.iniPath;
    line.swMin = settings.swMin;
    line.swMax = settings.swMax;
    QSocketNotifier stopper(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &line, [&line] {
        char drained[16];
        [[maybe_unused]] const auto n = ::read(signalPipe[0], drained, sizeof drained);
        line.stop();
    });

    if (command == QLatin1String("upload")) {
        return upload(*options, line, *port);
    }
    if (const QString failure = line.open(*port); !failure.isEmpty()) {
        say(failure);
        return kPortFailed;
    }
    if (command == QLatin1String("monitor")) {
        line.monitor();
        if (line.lineGone()) {
            say(QStringLiteral("the port went away (hung up or unplugged)"));
            return kPortFailed;
        }
        return kDone;
    }
    return operate(*options, line, settings);
}
