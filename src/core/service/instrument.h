// SPDX-License-Identifier: MIT
#pragma once
// One filter for many clients, for the network servers: it holds the serial line, opens the port as the panel
// does, and runs the clients' operations one at a time, in the order they came. Each operation is the panel's
// own (the same commands, limits, pauses and checks) followed, where it expects one, by the wait for the
// device's answer that merovask-ctl makes. Data that arrives while an operation waits is read and handled,
// but the operations it asks for are only queued: nothing falls between the commands of another operation.
// A client that leaves meanwhile does not stop its operation.
//
// When the device goes away (an adapter unplugged, a bridge dropped) operations fail at once with NoPort and
// the port is opened again every 2 s until it is back. The instrument also keeps what it sent last, for the
// answers that the device does not give (the wavelength in force, the switch's output).
//
// It lives on one thread with an event loop; other threads hand their operations over with call().

#include "calibration/calfile.h"
#include "line/serialline.h"
#include "service/outcome.h"
#include "settings/settings.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <optional>

namespace service {

enum class State {
    Off,    // closed on purpose (close())
    On,     // the port is open and no operation runs
    Moving, // an operation is on the line
    Fault,  // the port could not be opened or went away: it is tried again every 2 s
};

// What the instrument sent last. The device reports none of it back in a form the servers rely on.
struct Sent {
    std::optional<std::int32_t> wavelength; // the last tuned value, moved by the steps sent since
    std::int32_t stepSize = 1;              // the steps of the last Increase or Decrease
    std::optional<int> output;              // the switch's output, 1 to 4
    std::optional<std::int32_t> scanStart, scanEnd, stayTime, span;
};

class Instrument : public QObject {
    Q_OBJECT
  public:
    // `port`: the port number as the panel takes it; `devicePath`, when not empty, the device that it names
    // (a service without a per-user folder); `settings`: the file with the stored range.
    Instrument(const QString& port, const QString& devicePath, const settings::SettingsFile& settings,
               QObject* parent = nullptr);
    ~Instrument() override;

    using Done = std::function<void(const Outcome&)>;
    using Operation = std::function<Outcome(devlink::SerialLine&)>;

    // Opens the port (the first time, or again after close()); Fault with a reason when it cannot.
    void open(Done done = {});
    // Closes the port on purpose: Off until open().
    void close(Done done = {});

    // The filter's operations. Each waits its turn; a value is limited as the panel limits it, and the
    // outcome tells what went out. `done` gets the outcome on this object's thread.
    void tune(double nm, Done done);
    void step(bool up, double steps, Done done);
    void scanSetting(double start, double end, double stayTime, Done done);
    void scan(double span, Done done);
    // Outputs 1 to 4; any other is refused with OutOfRange and nothing sent.
    void selectOutput(int output, Done done);
    // The console's "get": the replies hold the calibration's year, month and day, hour and minute.
    void readDate(Done done);
    // A command typed into the console, sent as the console sends it.
    void sendRaw(const QString& command, Done done);
    // The calibration upload of a table read and checked by the calibration file's rules.
    void upload(const calibration::CalTable& table, std::int16_t rowCount, Done done);

    // Any operation: runs with the open line when its turn comes (NoPort without running when the port is
    // not open).
    void submit(Operation operation, Done done);
    // From any thread but this object's: hands the operation over and blocks until it has ended.
    Outcome call(Operation operation);
    Outcome call(const std::function<void(Instrument&, Done)>& request);

    // Ends once the operation under way (if any) has ended: queued ones end Stopped, nothing more is sent,
    // and `then` runs. An upload is never cut between a slot and its value.
    void finish(std::function<void()> then);

    State state() const { return state_; }
    // Why the instrument is in its state, in a sentence.
    QString status() const { return status_; }
    filter::Limits limits() const { return line_.limits(); }
    const Sent& sent() const { return sent_; }
    std::int16_t port() const { return port_; }
    // Operations waiting for their turn, the one under way not counted.
    std::size_t queued() const { return queue_.size(); }

  signals:
    void stateChanged(service::State state);
    // A line for the log (standard error, the journal): the port opened, lost, back, closed.
    void logged(const QString& line);
    // Every reply that the device gives, as it comes.
    void replyReceived(const QByteArray& reply);
    // After an operation that changed what sent() holds.
    void sentChanged();

  private:
    struct Job {
        Operation operation;
        Done done;
        bool needsPort = true; // refused with NoPort unless the port is open
    };
    void enqueue(Operation operation, Done done, bool needsPort = true);
    void runQueue();
    Outcome run(const Operation& operation);
    bool openLine();
    void lost();
    void setState(State state, const QString& status);
    // Queues an operation that records what it sent.
    void change(Operation operation, std::function<void(const Outcome&)> record, Done done);

    devlink::SerialLine line_;
    settings::SettingsFile settings_;
    QString portText_;
    std::int16_t port_ = 0;
    std::deque<Job> queue_;
    bool running_ = false;
    bool openQueued_ = false;
    bool finishing_ = false;
    std::atomic<bool> finishedCalls_{false};
    std::function<void()> finished_;
    QTimer retry_;
    State state_ = State::Off;
    QString status_;
    Sent sent_;
    QStringList replies_; // of the operation under way
};

} // namespace service
