// SPDX-License-Identifier: MIT
#include "service/instrument.h"

#include "calibration/upload.h"
#include "device/commands.h"
#include "device/number.h"
#include "device/texts.h"
#include "operations/console.h"
#include "operations/operations.h"

#include <QThread>
#include <atomic>
#include <future>

namespace service {

namespace {

// The panel's response check: an answer that comes later than this after the last command is none.
constexpr int kResponseMs = 1000;
constexpr int kRetryMs = 2000;

// How an operation that expects an answer to its last command ended, as merovask-ctl tells it.
Outcome answered(devlink::SerialLine& line, Outcome outcome = {}) {
    if (line.awaitReply(kResponseMs)) {
        outcome.end = Outcome::End::Done;
    } else if (line.wentAway()) {
        outcome.end = Outcome::End::NoPort;
    } else if (line.stopped()) {
        outcome.end = Outcome::End::Stopped;
    } else {
        outcome.end = Outcome::End::NoReply;
    }
    return outcome;
}

// A value as the operations read it from a box: the number's text, so that it is rounded and limited
// exactly as a typed one.
filter::TextField field(double value) {
    return filter::TextField(QString::number(value, 'g', 17));
}

// Whether `sent` is what was asked for.
bool limitedFrom(double asked, std::int32_t sent) {
    return filter::roundToInt32(asked) != std::optional<std::int32_t>(sent);
}

} // namespace

Instrument::Instrument(const QString& port, const QString& devicePath, const settings::SettingsFile& settings,
                       QObject* parent)
    : QObject(parent), settings_(settings), portText_(port), port_(filter::wholeValue16(port).value_or(0)) {
    line_.setDevicePath(devicePath);
    line_.setLimits(settings_.limits());
    retry_.setInterval(kRetryMs);
    // Each try is an operation of its own, so it never falls inside another one.
    connect(&retry_, &QTimer::timeout, this, [this] {
        if (state_ == State::Fault && !openQueued_) {
            open();
        }
    });
    connect(&line_, &devlink::SerialLine::replyReceived, this, [this](const QByteArray& reply) {
        replies_ << devlink::cmd::trimBlanks(QString::fromLatin1(reply));
        emit replyReceived(reply);
    });
    connect(&line_, &devlink::SerialLine::portGone, this, &Instrument::lost);
}

Instrument::~Instrument() {
    line_.shutDown();
}

void Instrument::open(Done done) {
    openQueued_ = true;
    enqueue(
        [this](devlink::SerialLine&) {
            openQueued_ = false;
            Outcome outcome;
            if (!openLine()) {
                outcome.end = Outcome::End::NoPort;
                outcome.text = status_;
            }
            return outcome;
        },
        std::move(done), false);
}

void Instrument::close(Done done) {
    enqueue(
        [this](devlink::SerialLine& line) {
            retry_.stop();
            line.close();
            setState(State::Off, texts::serverClosed(port_));
            emit logged(status_);
            return Outcome{};
        },
        std::move(done), false);
}

bool Instrument::openLine() {
    const bool wasFault = state_ == State::Fault;
    if (line_.open(portText_) == devlink::SerialLine::OpenEnd::Opened) {
        retry_.stop();
        setState(State::On, texts::serverReady(port_, line_.openedDevice()));
        emit logged(status_);
        return true;
    }
    const QString why =
        texts::serverRetrying(texts::openFailure(port_, line_.openTrouble(), line_.openedDevice()));
    // Said once when it starts failing, not at every try.
    if (!wasFault || status_ != why) {
        emit logged(why);
    }
    setState(State::Fault, why);
    retry_.start();
    return false;
}

void Instrument::lost() {
    setState(State::Fault, texts::serverRetrying(texts::serverPortGone(port_)));
    emit logged(status_);
    retry_.start();
}

void Instrument::setState(State state, const QString& status) {
    status_ = status;
    if (state != state_) {
        state_ = state;
        emit stateChanged(state);
    }
}

void Instrument::submit(Operation operation, Done done) {
    enqueue(std::move(operation), std::move(done));
}

void Instrument::enqueue(Operation operation, Done done, bool needsPort) {
    if (finishing_) {
        if (done) {
            done(Outcome{Outcome::End::Stopped, {}, {}, {}, false});
        }
        return;
    }
    queue_.push_back({std::move(operation), std::move(done), needsPort});
    // From the event loop, never on the caller's stack: a socket's handler that queues an operation returns
    // at once and its socket stays readable while the operation waits.
    QMetaObject::invokeMethod(this, &Instrument::runQueue, Qt::QueuedConnection);
}

void Instrument::runQueue() {
    // Called again from inside an operation's wait, it leaves the queue to the loop already running it.
    if (running_) {
        return;
    }
    while (!queue_.empty()) {
        Job job = std::move(queue_.front());
        queue_.pop_front();
        running_ = true;
        const Outcome outcome = job.needsPort ? run(job.operation) : job.operation(line_);
        running_ = false;
        if (job.done) {
            job.done(outcome);
        }
        if (finishing_) {
            break;
        }
    }
    if (finishing_ && finished_) {
        const auto then = std::exchange(finished_, {});
        for (Job& job : std::exchange(queue_, {})) {
            if (job.done) {
                job.done(Outcome{Outcome::End::Stopped, {}, {}, {}, false});
            }
        }
        finishedCalls_ = true;
        then();
    }
}

Outcome Instrument::run(const Operation& operation) {
    if (state_ != State::On || !line_.portOpen() || line_.wentAway()) {
        Outcome refused;
        refused.end = Outcome::End::NoPort;
        refused.text = status_;
        return refused;
    }
    setState(State::Moving, texts::serverBusy(port_));
    replies_.clear();
    Outcome outcome = operation(line_);
    outcome.replies = replies_;
    if (line_.wentAway()) {
        outcome.end = Outcome::End::NoPort;
    } else if (state_ == State::Moving) {
        setState(State::On, texts::serverReady(port_, line_.openedDevice()));
    }
    return outcome;
}

void Instrument::finish(std::function<void()> then) {
    finishing_ = true;
    finished_ = std::move(then);
    retry_.stop();
    QMetaObject::invokeMethod(this, &Instrument::runQueue, Qt::QueuedConnection);
}

void Instrument::change(Operation operation, std::function<void(const Outcome&)> record, Done done) {
    enqueue(
        [this, operation = std::move(operation), record = std::move(record)](devlink::SerialLine& line) {
            Outcome outcome = operation(line);
            // What went out is the filter's now, whether or not it answered.
            if (!outcome.values.isEmpty()) {
                record(outcome);
                emit sentChanged();
            }
            return outcome;
        },
        std::move(done));
}

void Instrument::tune(double nm, Done done) {
    change(
        [nm](devlink::SerialLine& line) {
            filter::TextField box = field(nm);
            const std::int32_t sent = filter::tune(line, box, filter::kWavelength, &devlink::cmd::wavelength);
            return answered(line, {Outcome::End::Done, {}, {}, {sent}, limitedFrom(nm, sent)});
        },
        [this](const Outcome& o) { sent_.wavelength = o.values.front(); }, std::move(done));
}

void Instrument::step(bool up, double steps, Done done) {
    change(
        [up, steps](devlink::SerialLine& line) {
            filter::TextField box = field(steps);
            const std::int32_t sent =
                filter::tune(line, box, filter::kSteps, up ? &devlink::cmd::stepUp : &devlink::cmd::stepDown);
            return answered(line, {Outcome::End::Done, {}, {}, {sent}, limitedFrom(steps, sent)});
        },
        [this, up](const Outcome& o) {
            sent_.stepSize = o.values.front();
            if (sent_.wavelength) {
                const std::int32_t moved = *sent_.wavelength + (up ? sent_.stepSize : -sent_.stepSize);
                sent_.wavelength = line_.limit(filter::kWavelength, moved);
            }
        },
        std::move(done));
}

void Instrument::scanSetting(double start, double end, double stayTime, Done done) {
    change(
        [start, end, stayTime](devlink::SerialLine& line) {
            filter::TextField first = field(start), last = field(end), stay = field(stayTime);
            filter::scanSetting(line, first, last, stay);
            Outcome outcome{Outcome::End::Done, {}, {}, {}, false};
            const double asked[] = {start, end, stayTime};
            const filter::TextField* boxes[] = {&first, &last, &stay};
            for (int i = 0; i < 3; ++i) {
                const std::int32_t sent = boxes[i]->text().toInt();
                outcome.values << sent;
                outcome.limited = outcome.limited || limitedFrom(asked[i], sent);
            }
            return answered(line, outcome);
        },
        [this](const Outcome& o) {
            sent_.scanStart = o.values[0];
            sent_.scanEnd = o.values[1];
            sent_.stayTime = o.values[2];
        },
        std::move(done));
}

void Instrument::scan(double span, Done done) {
    change(
        [span](devlink::SerialLine& line) {
            const std::int32_t sent = filter::scan(line, field(span).text());
            return answered(line, {Outcome::End::Done, {}, {}, {sent}, limitedFrom(span, sent)});
        },
        [this](const Outcome& o) { sent_.span = o.values.front(); }, std::move(done));
}

void Instrument::selectOutput(int output, Done done) {
    if (output < 1 || output > 4) {
        if (done) {
            done(Outcome{Outcome::End::OutOfRange, {}, {}, {}, true});
        }
        return;
    }
    change(
        [output](devlink::SerialLine& line) {
            filter::selectOutput(line, output - 1);
            return answered(line, {Outcome::End::Done, {}, {}, {output}, false});
        },
        [this](const Outcome& o) { sent_.output = o.values.front(); }, std::move(done));
}

void Instrument::readDate(Done done) {
    enqueue(
        [](devlink::SerialLine& line) {
            devlink::readStamp(line);
            return answered(line);
        },
        std::move(done));
}

void Instrument::sendRaw(const QString& command, Done done) {
    enqueue(
        [command](devlink::SerialLine& line) {
            devlink::consoleSend(line, command);
            return answered(line);
        },
        std::move(done));
}

void Instrument::upload(const calibration::CalTable& table, std::int16_t rowCount, Done done) {
    enqueue(
        [this, table, rowCount](devlink::SerialLine& line) {
            Outcome outcome;
            switch (calibration::upload(line, table, rowCount, settings_)) {
            case calibration::UploadEnd::Done:
                outcome.text = texts::uploadDone();
                emit sentChanged(); // the limits in force are the table's range now
                break;
            case calibration::UploadEnd::NoResponse:
                outcome.end = Outcome::End::Failed;
                outcome.text = texts::uploadNoResponse();
                break;
            case calibration::UploadEnd::Stopped:
                outcome.end = Outcome::End::Stopped;
                break;
            }
            return outcome;
        },
        std::move(done));
}

Outcome Instrument::call(Operation operation) {
    return call([operation = std::move(operation)](Instrument& self, Done done) {
        self.submit(operation, std::move(done));
    });
}

Outcome Instrument::call(const std::function<void(Instrument&, Done)>& request) {
    Q_ASSERT(QThread::currentThread() != thread());
    if (finishedCalls_) {
        return Outcome{Outcome::End::Stopped, {}, {}, {}, false};
    }
    auto promise = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> result = promise->get_future();
    const bool handed = QMetaObject::invokeMethod(
        this,
        [this, request, promise] {
            request(*this, [promise](const Outcome& outcome) { promise->set_value(outcome); });
        },
        Qt::QueuedConnection);
    if (!handed) {
        return Outcome{Outcome::End::Stopped, {}, {}, {}, false};
    }
    return result.get();
}

} // namespace service
