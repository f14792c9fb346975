// SPDX-License-Identifier: MIT
#include "harness.h"

#include "support/loopback.h"
#include "support/simlog.h"

#include <QElapsedTimer>

#include <csignal>
#include <sys/prctl.h>

namespace tangotest {

namespace {

// A child that ends with this test, even when the test does not get to stop it.
void endsWithTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// Reads a process's standard output until a line holds `text`.
bool waitForOutput(QProcess& process, const QString& text) {
    QElapsedTimer took;
    took.start();
    QByteArray seen;
    while (!seen.contains(text.toLatin1()) && took.elapsed() < kWaitMs) {
        if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning) {
            break;
        }
        seen += process.readAllStandardOutput();
    }
    if (!seen.contains(text.toLatin1())) {
        qWarning("no '%s' from %s: %s %s", qPrintable(text), qPrintable(process.program()), seen.constData(),
                 process.readAllStandardError().constData());
        return false;
    }
    return true;
}

void terminate(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        process.waitForFinished(kWaitMs);
    }
}

} // namespace

Sim::Sim(const QString& dir, const QString& log, const QStringList& options) : log_(log) {
    endsWithTest(process_);
    process_.start(QStringLiteral(MEROVASK_SIM_PATH),
                   QStringList{"--port", "1", "--dir", dir, "--log", log} + options);
    ready = waitForOutput(process_, QStringLiteral("linked as"));
}

void Sim::stop() {
    terminate(process_);
}

QStringList Sim::commands() {
    const std::vector<DeviceCommand> all = deviceCommands(log_);
    QStringList out;
    for (std::size_t i = seen_; i < all.size(); ++i) {
        out << QString::fromLatin1(all[i].text);
    }
    seen_ = all.size();
    return out;
}

bool Server::start(const QString& program, const QStringList& options) {
    port_ = testsupport::freeLoopbackPort();
    endsWithTest(process_);
    QElapsedTimer took;
    took.start();
    process_.start(program,
                   QStringList{"test"} + options +
                       QStringList{"-ORBendPoint", QStringLiteral("giop:tcp:127.0.0.1:%1").arg(port_)});
    const bool ready = waitForOutput(process_, QStringLiteral("Ready to accept request"));
    starts << double(took.nsecsElapsed()) / 1e6;
    return ready;
}

void Server::stop() {
    terminate(process_);
}

std::unique_ptr<Tango::DeviceProxy> Server::proxy() const {
    const std::string name =
        QStringLiteral("tango://127.0.0.1:%1/%2#dbase=no").arg(port_).arg(kDevice).toStdString();
    auto proxy = std::make_unique<Tango::DeviceProxy>(name.c_str());
    // Longer than an upload of 10 rows and what may be queued before it.
    proxy->set_timeout_millis(kWaitMs);
    return proxy;
}

QString textOf(Tango::DeviceAttribute& attr) {
    if (attr.get_quality() == Tango::ATTR_INVALID) {
        return QStringLiteral("invalid");
    }
    switch (attr.get_type()) {
    case Tango::DEV_STATE: {
        Tango::DevState v;
        attr >> v;
        return QString::fromLatin1(Tango::DevStateName[v]);
    }
    case Tango::DEV_DOUBLE: {
        double v = 0;
        attr >> v;
        return QString::number(v);
    }
    case Tango::DEV_SHORT: {
        Tango::DevShort v = 0;
        attr >> v;
        return QString::number(v);
    }
    default: {
        std::string v;
        attr >> v;
        return QString::fromStdString(v);
    }
    }
}

QString valueOf(Tango::DeviceProxy& proxy, const QString& name) {
    if (name == QLatin1String("State")) {
        return QString::fromLatin1(Tango::DevStateName[proxy.state()]);
    }
    if (name == QLatin1String("Status")) {
        return QString::fromStdString(proxy.status());
    }
    Tango::DeviceAttribute attr = proxy.read_attribute(name.toStdString().c_str());
    return textOf(attr);
}

void Events::push_event(Tango::EventData* event) {
    if (event->err) {
        return;
    }
    const QString name =
        QString::fromStdString(event->attr_name).section(QLatin1Char('/'), -1).section('#', 0, 0);
    const QString value = textOf(*event->attr_value);
    std::lock_guard lock(mutex_);
    seen_ << name + QLatin1Char(' ') + value;
}

QStringList Events::seen() {
    std::lock_guard lock(mutex_);
    return seen_;
}

void Events::clear() {
    std::lock_guard lock(mutex_);
    seen_.clear();
}

bool Events::cameInOrder(const QStringList& wanted) {
    qsizetype at = 0;
    for (const QString& event : seen()) {
        at += (at < wanted.size() && event.compare(wanted[at], Qt::CaseInsensitive) == 0) ? 1 : 0;
    }
    return at == wanted.size();
}

Subscription::Subscription(Tango::DeviceProxy& proxy, const std::vector<std::string>& names) : proxy_(proxy) {
    for (const std::string& name : names) {
        ids_.push_back(proxy_.subscribe_event(name, Tango::CHANGE_EVENT, this));
    }
}

Subscription::~Subscription() {
    for (int id : ids_) {
        proxy_.unsubscribe_event(id);
    }
}

} // namespace tangotest
