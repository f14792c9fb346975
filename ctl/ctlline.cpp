#include "ctl/ctlline.h"

#include "filter/limits.h"
#include "link/commands.h"
#include "link/console.h"
#include "platform/wait.h"
#include "shell/settings.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <limits>

namespace ctl {

CtlLine::CtlLine(Output output, int timeoutMs, const QElapsedTimer& sinceStart)
    : output_(output), timeoutMs_(timeoutMs), sinceStart_(sinceStart) {
    connect(&port_, &platform::MSComm::OnComm, this, &CtlLine::receive);
    connect(&port_, &platform::MSComm::LineGone, this, [this] {
        lineGone_ = true;
        stop();
    });
}

QString CtlLine::open(std::int16_t number) {
    int error = port_.setCommPort(number);
    if (error == platform::kCommOk) {
        error = port_.setSettings(devlink::cmd::kLineSettings);
    }
    if (error == platform::kCommOk) {
        error = port_.setPortOpen(true);
    }
    if (error == platform::kCommOk) {
        return {};
    }
    const QString device = port_.openedDevice();
    switch (port_.openTrouble()) {
    case platform::OpenTrouble::NoPermission:
        return QStringLiteral("no permission to open port %1 (%2): add yourself to the dialout group "
                              "(sudo usermod -aG dialout $USER) and log in again")
            .arg(number)
            .arg(device);
    case platform::OpenTrouble::InUse:
        return QStringLiteral("port %1 (%2) is in use by another program").arg(number).arg(device);
    case platform::OpenTrouble::NotSerial:
        return QStringLiteral("port %1 (%2) is not a serial port").arg(number).arg(device);
    case platform::OpenTrouble::None:
    case platform::OpenTrouble::NoSuchPort:
        break;
    }
    return QStringLiteral("no such port %1").arg(number);
}

void CtlLine::SendCommand(QString text) {
    if (stop_) {
        return;
    }
    const QString command = devlink::cmd::trimBlanks(text);
    port_.Output(command.toLatin1());
    sinceSend_.start();
    lastCommand_ = command;
    if (lastCommand_.endsWith(QLatin1Char(devlink::cmd::kTerminator))) {
        lastCommand_.chop(1);
    }
    ++sent_;
    if (onSent) {
        onSent(sent_);
    }
}

void CtlLine::DelayMs(std::int32_t HowLong) {
    platform::waitMs(HowLong, [this] { return stop_; });
}

void CtlLine::console(const QString& command) {
    devlink::sendFromConsole(*this, command);
}

std::int32_t CtlLine::limit(std::int32_t nType, std::int32_t nVal) const {
    return filter::setLimit(nType, nVal, swMin, swMax);
}

void CtlLine::storeRange(std::int32_t calMin, std::int32_t calMax) {
    shell::storeRange(iniPath, calMin, calMax, swMin, swMax);
}

bool CtlLine::awaitReply() {
    const qint64 limitNs = qint64(timeoutMs_) * 1000000;
    awaiting_ = true;
    while (!replied() && !stop_ && sinceSend_.isValid() && sinceSend_.nsecsElapsed() <= limitNs) {
        const qint64 leftMs = (limitNs - sinceSend_.nsecsElapsed() + 999999) / 1000000;
        platform::waitMs(static_cast<std::int32_t>(leftMs), [this] { return stop_ || replied(); });
    }
    awaiting_ = false;
    return replied() && !lineGone_;
}

void CtlLine::monitor() {
    while (!stop_) {
        platform::waitMs(std::numeric_limits<std::int32_t>::max(), [this] { return stop_; });
    }
}

void CtlLine::stop() {
    stop_ = true;
    platform::interruptWaits();
}

void CtlLine::receive() {
    if (port_.CommEvent() != platform::comEvReceive) {
        return;
    }
    if (const auto reply = rx_.feed(port_.Input())) {
        replyText_ = QString::fromLatin1(*reply);
        print(replyText_);
        if (awaiting_) {
            platform::interruptWaits();
        }
    }
}

void CtlLine::print(const QString& reply) {
    QString text = reply;
    if (text.endsWith(QLatin1Char(devlink::cmd::kReplyEnd))) {
        text.chop(1);
    }
    const double t = static_cast<double>(sinceStart_.nsecsElapsed()) / 1e9;
    QByteArray line;
    if (output_.json) {
        QJsonObject object{{QStringLiteral("reply"), text}, {QStringLiteral("t"), t}};
        // Replies that no command of ours asked for (monitor) answer no command.
        object.insert(QStringLiteral("command"),
                      lastCommand_.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(lastCommand_));
        line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    } else if (output_.timestamps) {
        line = QByteArray::number(t, 'f', 3) + ' ' + text.toLatin1();
    } else {
        line = text.toLatin1();
    }
    line += '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace ctl
