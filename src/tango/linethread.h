// SPDX-License-Identifier: MIT
#pragma once
// The filter's serial line on a Qt thread of its own, for a device whose calls arrive on Tango's threads.
// The instrument (the core's one queue of operations) is made, runs and ends on that thread; every call is
// handed to it and waits there for its turn and its end. What clients read without an operation (the state,
// the values sent, the last reply) is kept in a snapshot that the line's thread replaces as a whole, so a
// read from any thread sees one moment of the filter, never half of a change.

#include "service/instrument.h"

#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tangoserver {

struct Snapshot {
    // The instrument's state, except Fault also while the port is open but the filter did not answer the
    // last operation (until one gets an answer).
    service::State state = service::State::Off;
    QString status;
    std::optional<std::int32_t> wavelength; // the last sent, moved by the steps since
    std::optional<int> output;              // 1 to 4
    filter::Limits limits;
    std::optional<QString> lastReply; // without its closing blank
    std::uint64_t replies = 0;        // how many came, so that the same text twice is two replies
};

// What changed from one snapshot to the next.
enum Change : unsigned {
    kState = 1,      // state or status
    kWavelength = 2, // wavelength or limits
    kOutput = 4,
    kReply = 8,
};

class LineThread {
  public:
    using Request = std::function<void(service::Instrument&, service::Instrument::Done)>;
    // Called on the line's thread after each change, with the snapshot that now holds and what changed.
    using Changed = std::function<void(const Snapshot&, unsigned changes)>;

    // Starts the thread and the instrument on it, and returns once it has tried to open the port.
    LineThread(const QString& port, const QString& devicePath, const settings::SettingsFile& settings,
               Changed changed);
    // Ends as the instrument ends: the operation under way runs to its end, calls still waiting end Stopped.
    ~LineThread();

    Snapshot snapshot() const;
    // From any thread but the line's: waits for the operation's turn and its end.
    service::Outcome call(const Request& request);

  private:
    class Thread;
    void attach(service::Instrument& instrument);
    void publish();
    void answered(const service::Outcome& outcome);

    Changed changed_;
    std::unique_ptr<Thread> thread_;
    service::Instrument* instrument_ = nullptr; // lives on the thread's stack
    bool unanswered_ = false;                   // the line's thread only
    std::optional<QString> lastReply_;          // the line's thread only
    std::uint64_t replies_ = 0;                 // the line's thread only

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    Snapshot snapshot_;
    bool ending_ = false;
    int calls_ = 0; // calls handed over and not yet returned
};

} // namespace tangoserver
