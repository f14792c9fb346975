// SPDX-License-Identifier: MIT
#include "output.h"

#include "device/commands.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <unistd.h>

namespace ctl {

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

void ReplyPrinter::sent(const QString& command) {
    lastCommand_ = command;
    if (lastCommand_.endsWith(QLatin1Char(devlink::cmd::kTerminator))) {
        lastCommand_.chop(1);
    }
}

void ReplyPrinter::print(const QByteArray& reply) const {
    QString text = QString::fromLatin1(reply);
    if (text.endsWith(QLatin1Char(devlink::cmd::kReplyEnd))) {
        text.chop(1);
    }
    const double t = static_cast<double>(sinceStart_.nsecsElapsed()) / 1e9;
    QByteArray line;
    switch (form_) {
    case Form::Json: {
        QJsonObject object{{QStringLiteral("reply"), text}, {QStringLiteral("t"), t}};
        // Replies that no command of ours asked for (monitor) answer no command.
        object.insert(QStringLiteral("command"),
                      lastCommand_.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(lastCommand_));
        line = QJsonDocument(object).toJson(QJsonDocument::Compact);
        break;
    }
    case Form::Timed:
        line = QByteArray::number(t, 'f', 3) + ' ' + text.toLatin1();
        break;
    case Form::Plain:
        line = text.toLatin1();
        break;
    }
    line += '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fflush(stdout);
}

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

} // namespace ctl
