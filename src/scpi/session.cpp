// SPDX-License-Identifier: MIT
#include "session.h"

namespace scpiserver {

Session::Session(service::Instrument& instrument, bool engineering,
                 std::function<void(const QByteArray&)> send, std::function<void(const QString&)> log)
    : instrument_(instrument),
      settings_(Settings::defaults(instrument.limits())), context_{instrument_, status_,     settings_,
                                                                   answers_,    engineering, std::move(log)},
      send_(std::move(send)) {}

void Session::take(const scpi::Framer::Message& message) {
    Running running;
    if (message.error) {
        running.program.error = message.error;
    } else {
        running.program = scpi::parse(message.text, context_.engineering);
    }
    messages_.push_back(std::move(running));
    run();
}

void Session::run() {
    while (!waiting_ && !messages_.empty()) {
        Running& message = messages_.front();
        if (message.next < message.program.calls.size()) {
            const scpi::Call& call = message.program.calls[message.next++];
            if (auto work = handle(context_, call)) {
                start(std::move(*work));
            }
            continue;
        }
        // The units before a fault ran; the fault is reported where it stood.
        if (message.program.error) {
            status_.push(*message.program.error);
        }
        if (!answers_.isEmpty()) {
            send_(answers_.join(';') + '\n');
            answers_.clear();
        }
        messages_.pop_front();
        if (progressed) {
            progressed();
        }
    }
}

void Session::start(Work work) {
    waiting_ = true;
    starting_ = true;
    const std::size_t count = work.requests.size();
    auto outcomes = std::make_shared<std::vector<service::Outcome>>(count);
    auto arrived = std::make_shared<std::size_t>(0);
    auto finish = std::make_shared<decltype(work.finish)>(std::move(work.finish));
    const std::weak_ptr<Session*> self = self_;
    for (std::size_t i = 0; i < count; ++i) {
        work.requests[i](instrument_,
                         [self, outcomes, arrived, finish, i, count](const service::Outcome& outcome) {
                             const auto session = self.lock();
                             if (!session) {
                                 return;
                             }
                             (*outcomes)[i] = outcome;
                             if (++*arrived < count) {
                                 return;
                             }
                             Session& s = **session;
                             (*finish)(s.context_, *outcomes);
                             s.waiting_ = false;
                             // An outcome given at once, before the requests were all handed over, is taken
                             // up by run()'s loop.
                             if (!s.starting_) {
                                 s.run();
                             }
                         });
    }
    starting_ = false;
}

} // namespace scpiserver
