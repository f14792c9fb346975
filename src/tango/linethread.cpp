// SPDX-License-Identifier: MIT
#include "linethread.h"

#include "device/commands.h"
#include "device/texts.h"

#include <omnithread.h>

#include <cstdio>
#include <future>

namespace tangoserver {

using service::Instrument;
using service::Outcome;

class LineThread::Thread : public QThread {
  public:
    Thread(LineThread& owner, const QString& port, const QString& devicePath,
           const settings::SettingsFile& settings)
        : owner_(owner), port_(port), devicePath_(devicePath), settings_(settings) {}

    std::promise<void> ready;

  protected:
    void run() override {
        // The change events are pushed from here, and Tango asks omniORB which thread calls: one that omniORB
        // did not start has to be made known to it.
        omni_thread::ensure_self known;
        Instrument instrument(port_, devicePath_, settings_);
        owner_.attach(instrument);
        // The device comes up ON or FAULT, never in the OFF that only Close() gives.
        instrument.open([this](const Outcome&) { ready.set_value(); });
        exec();
    }

  private:
    LineThread& owner_;
    QString port_;
    QString devicePath_;
    settings::SettingsFile settings_;
};

LineThread::LineThread(const QString& port, const QString& devicePath, const settings::SettingsFile& settings,
                       Changed changed)
    : changed_(std::move(changed)), thread_(std::make_unique<Thread>(*this, port, devicePath, settings)) {
    std::future<void> ready = thread_->ready.get_future();
    thread_->start();
    ready.wait();
}

LineThread::~LineThread() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    std::promise<void> finished;
    QMetaObject::invokeMethod(
        instrument_, [this, &finished] { instrument_->finish([&finished] { finished.set_value(); }); },
        Qt::QueuedConnection);
    finished.get_future().wait();
    // Calls handed over before the end began come back Stopped from the instrument; its thread runs until the
    // last of them has.
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return calls_ == 0; });
    }
    thread_->quit();
    thread_->wait();
}

void LineThread::attach(Instrument& instrument) {
    instrument_ = &instrument;
    QObject::connect(&instrument, &Instrument::stateChanged, &instrument, [this](service::State state) {
        if (state == service::State::On) {
            // At the end of an operation the state comes back before the operation's outcome, which may turn
            // it into Fault: the snapshot waits for both.
            QMetaObject::invokeMethod(
                instrument_, [this] { publish(); }, Qt::QueuedConnection);
            return;
        }
        if (state != service::State::Moving) {
            unanswered_ = false; // a port opened again starts afresh
        }
        publish();
    });
    QObject::connect(&instrument, &Instrument::sentChanged, &instrument, [this] { publish(); });
    QObject::connect(&instrument, &Instrument::replyReceived, &instrument, [this](const QByteArray& reply) {
        lastReply_ = devlink::cmd::trimBlanks(QString::fromLatin1(reply));
        ++replies_;
        publish();
    });
    QObject::connect(&instrument, &Instrument::logged, &instrument, [](const QString& line) {
        std::fprintf(stderr, "merovask-tango: %s\n", qPrintable(line));
    });
    publish();
}

void LineThread::answered(const Outcome& outcome) {
    if (outcome.end == Outcome::End::Done) {
        unanswered_ = false;
    } else if (outcome.end == Outcome::End::NoReply) {
        unanswered_ = true;
    }
    publish();
}

void LineThread::publish() {
    Snapshot next;
    next.state = instrument_->state();
    next.status = instrument_->status();
    if (next.state == service::State::On && unanswered_) {
        next.state = service::State::Fault;
        next.status = texts::serverNoReply(instrument_->port());
    }
    next.wavelength = instrument_->sent().wavelength;
    next.output = instrument_->sent().output;
    next.limits = instrument_->limits();
    next.lastReply = lastReply_;
    next.replies = replies_;

    // Only this thread writes the snapshot, so it reads its own without the lock.
    const Snapshot& was = snapshot_;
    unsigned changes = 0;
    if (next.state != was.state || next.status != was.status) {
        changes |= kState;
    }
    if (next.wavelength != was.wavelength || next.limits.swMin != was.limits.swMin ||
        next.limits.swMax != was.limits.swMax) {
        changes |= kWavelength;
    }
    if (next.output != was.output) {
        changes |= kOutput;
    }
    if (next.replies != was.replies) {
        changes |= kReply;
    }
    {
        std::lock_guard lock(mutex_);
        snapshot_ = next;
    }
    if (changes != 0 && changed_) {
        changed_(next, changes);
    }
}

Snapshot LineThread::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

Outcome LineThread::call(const Request& request) {
    {
        std::lock_guard lock(mutex_);
        if (ending_) {
            return Outcome{Outcome::End::Stopped, {}, {}, {}, false};
        }
        ++calls_;
    }
    const Outcome outcome = instrument_->call([this, request](Instrument& instrument, Instrument::Done done) {
        request(instrument, [this, done](const Outcome& o) {
            answered(o);
            done(o);
        });
    });
    {
        std::lock_guard lock(mutex_);
        --calls_;
    }
    idle_.notify_all();
    return outcome;
}

} // namespace tangoserver
