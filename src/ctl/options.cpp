// SPDX-License-Identifier: MIT
#include "options.h"

#include "system/commandline.h"

#include <QCommandLineParser>

#include <algorithm>
#include <array>
#include <cstdio>

namespace ctl {

namespace {

using platform::OptionForm;

const std::array<OptionForm, 5> kOptions{{
    {"port", "N", "port number (default: the port the panel opens, from its settings file)"},
    {"timeout", "MS", "how long to wait for the device's reply (default 1000)"},
    {"json", nullptr,
     "one JSON object per reply: {\"command\": ..., \"reply\": ..., \"t\": seconds since start}"},
    {"yes", nullptr, "upload without asking"},
    {"plot", "PNG", "with check: draw value against wavelength into PNG"},
}};

const char kIntro[] = R"(Usage: merovask-ctl [--port N] [--timeout MS] [--json] COMMAND [ARGS]

Drives the Merovask tunable filter from scripts, through the same port, settings file and checks as the
merovask panel. Each reply of the device is printed on standard output, one line each, without its closing
blank; messages go to standard error.
)";

const char kNumbers[] =
    R"(Numbers are read as the panel reads its boxes ("15 50" is 1550, "1550.5" is 1550) and limited as the panel
limits them; a limited value is reported on standard error.
)";

const char kStatus[] =
    R"(Exit status: 0 done; 1 usage error or upload not confirmed; 2 the port cannot be opened or went away;
3 no reply within the time-out; 4 calibration file refused.
)";

// QCommandLineParser reads a word with one dash in front as short options; for this tool it is an argument
// ("up -5" reads -5 as the panel reads it from a box), so such words are marked before parsing and the mark
// taken off their values afterwards.
const QChar kArgumentMark(0x1F);

QString unmarked(QString word) {
    if (word.startsWith(kArgumentMark)) {
        word.remove(0, 1);
    }
    return word;
}

// What the first remarkable option word asks for, in the order given: help, the version, or a usage error in
// the tool's own words (the parser's error texts name options differently).
struct FirstOption {
    enum { None, Help, Version, Error } kind = None;
    QString error;
};

FirstOption firstOption(const QStringList& words) {
    for (qsizetype i = 0; i < words.size() && words[i] != QLatin1String("--"); ++i) {
        if (words[i] == QLatin1String("-h")) {
            return {FirstOption::Help, {}};
        }
        if (!words[i].startsWith(QLatin1String("--"))) {
            continue;
        }
        const QString name = words[i].section(QLatin1Char('='), 0, 0);
        if (name == QLatin1String("--help")) {
            return {FirstOption::Help, {}};
        }
        if (name == QLatin1String("--version")) {
            return {FirstOption::Version, {}};
        }
        const auto form = std::find_if(kOptions.begin(), kOptions.end(), [&](const OptionForm& candidate) {
            return name.mid(2) == QLatin1String(candidate.name);
        });
        const bool hasValue = words[i].contains(QLatin1Char('='));
        if (form == kOptions.end()) {
            return {FirstOption::Error, QStringLiteral("unknown option %1").arg(name)};
        }
        if (form->value == nullptr && hasValue) {
            return {FirstOption::Error, QStringLiteral("option %1 takes no value").arg(name)};
        }
        if (form->value != nullptr && !hasValue && ++i == words.size()) {
            return {FirstOption::Error, QStringLiteral("option %1 needs a value").arg(name)};
        }
    }
    return {};
}

QString column(const QString& left, int width) {
    return QStringLiteral("  ") + left.leftJustified(width) + QStringLiteral("  ");
}

} // namespace

QString helpText() {
    constexpr int kCommandWidth = 23;
    constexpr int kOptionWidth = 13;
    QString text = QString::fromLatin1(kIntro) + QStringLiteral("\nCommands:\n");
    for (const Command& command : commands()) {
        const QString usage = QString::fromLatin1(command.usage);
        const QStringList lines = QString::fromLatin1(command.help).split(QLatin1Char('\n'));
        QString indent = column(usage, kCommandWidth);
        if (usage.size() > kCommandWidth) {
            text += QStringLiteral("  ") + usage + QLatin1Char('\n');
            indent = QString(kCommandWidth + 4, QLatin1Char(' '));
        }
        for (const QString& line : lines) {
            text += indent + line + QLatin1Char('\n');
            indent = QString(kCommandWidth + 4, QLatin1Char(' '));
        }
    }
    text += QLatin1Char('\n') + QString::fromLatin1(kNumbers) + QStringLiteral("\nOptions:\n");
    for (const OptionForm& option : kOptions) {
        const QString form = platform::optionSynopsis(option);
        text += column(form, kOptionWidth) + QLatin1String(option.help) + QLatin1Char('\n');
    }
    text += column(QStringLiteral("-h, --help"), kOptionWidth) + QStringLiteral("this text\n");
    text += column(QStringLiteral("--version"), kOptionWidth) + QStringLiteral("the version\n");
    return text + QLatin1Char('\n') + QString::fromLatin1(kStatus);
}

std::variant<Options, int> parse(const QStringList& argv) {
    QStringList words;
    bool optionsEnded = false;
    for (const QString& word : argv) {
        optionsEnded = optionsEnded || word == QLatin1String("--");
        const bool dashArgument = !optionsEnded && word.size() > 1 && word.startsWith(QLatin1Char('-')) &&
                                  !word.startsWith(QLatin1String("--")) && word != QLatin1String("-h");
        words << (dashArgument ? kArgumentMark + word : word);
    }

    QCommandLineParser parser;
    const platform::CommandLineOptions cli = platform::addCommandLineOptions(parser, kOptions);
    const QList<QCommandLineOption>& options = cli.table;
    const bool parsed = parser.parse(words);
    switch (const FirstOption first = firstOption(words.mid(1)); first.kind) {
    case FirstOption::Help:
        std::fputs(qPrintable(helpText()), stdout);
        return kDone;
    case FirstOption::Version:
        std::printf("merovask-ctl %s\n", MEROVASK_VERSION);
        return kDone;
    case FirstOption::Error:
        return usage(first.error);
    case FirstOption::None:
        if (!parsed) {
            return usage(parser.errorText());
        }
        break;
    }

    Options o;
    if (parser.isSet(options[0])) {
        o.port = unmarked(parser.value(options[0]));
    }
    if (parser.isSet(options[1])) {
        const QString text = unmarked(parser.value(options[1]));
        bool ok = false;
        o.timeoutMs = text.toInt(&ok);
        if (!ok || o.timeoutMs < 0) {
            return usage(
                QStringLiteral("--timeout takes a whole number of milliseconds, not '%1'").arg(text));
        }
    }
    o.json = parser.isSet(options[2]);
    o.yes = parser.isSet(options[3]);
    if (parser.isSet(options[4])) {
        o.plot = unmarked(parser.value(options[4]));
    }
    for (const QString& word : parser.positionalArguments()) {
        o.words << unmarked(word);
    }

    if (o.words.isEmpty()) {
        return usage(QStringLiteral("no command given"));
    }
    const Command* command = findCommand(o.words.front());
    if (command == nullptr) {
        return usage(QStringLiteral("unknown command '%1'").arg(o.words.front()));
    }
    if (o.words.size() - 1 != command->args) {
        return usage(QStringLiteral("usage: merovask-ctl %1").arg(QLatin1String(command->usage)));
    }
    for (const auto& [set, name] : {std::pair{o.yes, "yes"}, std::pair{o.plot.has_value(), "plot"}}) {
        if (set && qstrcmp(command->option, name) != 0) {
            const Command* owner = nullptr;
            for (const Command& candidate : commands()) {
                owner = qstrcmp(candidate.option, name) == 0 ? &candidate : owner;
            }
            return usage(QStringLiteral("--%1 goes with %2 only")
                             .arg(QLatin1String(name), QLatin1String(owner->name)));
        }
    }
    if (command->check != nullptr) {
        if (const QString why = command->check(o.words.mid(1)); !why.isEmpty()) {
            return usage(why);
        }
    }
    return o;
}

} // namespace ctl
