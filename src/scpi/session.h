// SPDX-License-Identifier: MIT
#pragma once
// One client's conversation with the instrument. Its program messages run in the order they came, each unit
// once the one before it has ended: a unit that needs the device waits for its turn in the instrument's
// queue, and every unit after it (of later messages too) waits with it, so "*OPC?" and queries after a
// command are answered once it has ended. The answers of a message go out together as one line. The
// instrument's waits keep the event loop running, so reading, parsing and queueing go on meanwhile, and a
// query on a connection with nothing pending is answered at once.

#include "context.h"
#include "parser/framer.h"

#include <deque>
#include <memory>

namespace scpiserver {

class Session {
  public:
    // `send` gets each answer line, LF included; `log` a line for standard error.
    Session(service::Instrument& instrument, bool engineering, std::function<void(const QByteArray&)> send,
            std::function<void(const QString&)> log);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Queues a message from the framer and runs what can run.
    void take(const scpi::Framer::Message& message);
    // Messages not yet ended, the one under way included.
    std::size_t pending() const { return messages_.size(); }
    // Called each time a message has ended.
    std::function<void()> progressed;

  private:
    struct Running {
        scpi::Program program;
        qsizetype next = 0;
    };
    void run();
    void start(Work work);

    service::Instrument& instrument_;
    scpi::Status status_;
    Settings settings_;
    QByteArrayList answers_;
    Context context_;
    std::function<void(const QByteArray&)> send_;
    std::deque<Running> messages_;
    bool waiting_ = false;
    bool starting_ = false;
    // Outcomes that come after the session has gone find this expired.
    std::shared_ptr<Session*> self_ = std::make_shared<Session*>(this);
};

} // namespace scpiserver
